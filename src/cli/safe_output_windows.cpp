#include "cli/safe_output_system.h"

#include "cli/platform.h"

#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

struct Plan {
    Way way;
    std::wstring target, temp, backup;  // backup: the old file's hidden name while it is kept aside
    HANDLE stream;
    bool exists;
    bool made;     // the temporary file was created
    bool swapped;  // the new file has taken the target's name
};

namespace {

// The temporary files of this run, removed if it is interrupted; the lock keeps the console's
// handler, which runs on a thread of its own, from reading the list while it changes and from
// acting in the middle of the renames.
const wchar_t** g_temps;
LONG g_temp_count;
SRWLOCK g_lock = SRWLOCK_INIT;

BOOL WINAPI RemoveTemporaries(DWORD)
{
    AcquireSRWLockExclusive(&g_lock);
    for (LONG i = 0; i < g_temp_count; ++i)
        DeleteFileW(g_temps[i]);
    g_temp_count = 0;
    ReleaseSRWLockExclusive(&g_lock);
    return FALSE;
}

bool WriteAll(HANDLE file, std::span<const unsigned char> bytes)
{
    while (!bytes.empty()) {
        DWORD done = 0;
        const DWORD ask = bytes.size() > 1u << 30 ? 1u << 30 : static_cast<DWORD>(bytes.size());
        if (!WriteFile(file, bytes.data(), ask, &done, nullptr) || done == 0)
            return false;
        bytes = bytes.subspan(done);
    }
    return true;
}

} // namespace

Plan* NewPlans(std::size_t n)
{
    auto* temps = static_cast<const wchar_t**>(std::malloc(n * sizeof(const wchar_t*)));
    auto* plans = static_cast<Plan*>(std::malloc(n * sizeof(Plan)));
    if (!temps || !plans) {
        std::free(temps);
        std::free(plans);
        return nullptr;
    }
    for (std::size_t i = 0; i < n; ++i)
        new (&plans[i]) Plan{Way::temporary, {}, {}, {}, INVALID_HANDLE_VALUE, false, false, false};
    AcquireSRWLockExclusive(&g_lock);
    g_temps = temps;
    g_temp_count = 0;
    ReleaseSRWLockExclusive(&g_lock);
    SetConsoleCtrlHandler(RemoveTemporaries, TRUE);
    return plans;
}

void DeletePlans(Plan* plans, std::size_t n)
{
    AcquireSRWLockExclusive(&g_lock);
    g_temp_count = 0;
    std::free(g_temps);
    g_temps = nullptr;
    ReleaseSRWLockExclusive(&g_lock);
    for (std::size_t i = 0; i < n; ++i)
        plans[i].~Plan();
    std::free(plans);
}

Plan& PlanAt(Plan* plans, std::size_t i)
{
    return plans[i];
}

Way WayOf(const Plan& plan)
{
    return plan.way;
}

OutputStatus Prepare(const Output& out, Plan& plan)
{
    if (!std::strcmp(out.path, "-")) {
        plan.way = Way::stream;
        plan.stream = GetStdHandle(STD_OUTPUT_HANDLE);
        return plan.stream && plan.stream != INVALID_HANDLE_VALUE ? OutputStatus::written
                                                                  : OutputStatus::not_created;
    }
    plan.target = Utf8ToWide(out.path);
    if (plan.target.empty())
        return OutputStatus::not_created;
    // Open what is there, to refuse what cannot be written.
    HANDLE old = CreateFileW(plan.target.c_str(), GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    plan.exists = old != INVALID_HANDLE_VALUE;
    if (!plan.exists) {
        const DWORD error = GetLastError();
        if (!out.replace && GetFileAttributesW(plan.target.c_str()) != INVALID_FILE_ATTRIBUTES)
            return OutputStatus::exists;
        if (error != ERROR_FILE_NOT_FOUND)
            return OutputStatus::not_created;
    }
    if (plan.exists) {
        const bool device = GetFileType(old) != FILE_TYPE_DISK;
        // A link is followed: the file it names is the one replaced.
        wchar_t final_path[32768];
        const DWORD size = device ? 0 : GetFinalPathNameByHandleW(old, final_path, 32768, 0);
        if (size > 0 && size < 32768)
            plan.target = final_path;
        CloseHandle(old);
        if (!out.replace)
            return OutputStatus::exists;
        if (device) {
            plan.way = Way::device;
            return OutputStatus::written;
        }
    }

    // A short name of its own beside the target, whatever the target's name.
    const std::size_t slash = plan.target.find_last_of(L"\\/");
    const std::wstring dir = slash == std::wstring::npos ? L"" : plan.target.substr(0, slash + 1);
    HANDLE file = INVALID_HANDLE_VALUE;
    for (unsigned n = 0; file == INVALID_HANDLE_VALUE && n < 100; ++n) {
        plan.temp = dir + L".sorvel-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                    std::to_wstring(n) + L".tmp";
        file = CreateFileW(plan.temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) {
            if (GetLastError() != ERROR_ACCESS_DENIED)
                return OutputStatus::not_written;
            plan.way = Way::in_place;
            return OutputStatus::written;
        }
    }
    if (file == INVALID_HANDLE_VALUE)
        return OutputStatus::not_written;
    plan.way = Way::temporary;
    plan.made = true;
    AcquireSRWLockExclusive(&g_lock);
    g_temps[g_temp_count++] = plan.temp.c_str();
    ReleaseSRWLockExclusive(&g_lock);
    // An old file is about to be replaced: its new content must be on the disk first.
    bool ok = WriteAll(file, out.bytes) && (!plan.exists || FlushFileBuffers(file));
    ok = CloseHandle(file) && ok;
    return ok ? OutputStatus::written : OutputStatus::not_written;
}

OutputStatus WriteDirect(const Output& out, Plan& plan)
{
    if (plan.way == Way::stream)
        return WriteAll(plan.stream, out.bytes) ? OutputStatus::written : OutputStatus::not_written;
    std::FILE* file = OpenFile(out.path, "wb");
    if (!file)
        return OutputStatus::not_created;
    // A stream's close may drop the error of its last flush, so flush first.
    bool ok = std::fwrite(out.bytes.data(), 1, out.bytes.size(), file) == out.bytes.size();
    ok = std::fflush(file) == 0 && !std::ferror(file) && ok;
    ok = std::fclose(file) == 0 && ok;
    if (ok)
        return OutputStatus::written;
    return plan.way == Way::in_place && plan.exists ? OutputStatus::cut_short : OutputStatus::not_written;
}

OutputStatus Swap(const Output& out, Plan& plan)
{
    bool moved = false;
    if (out.replace && plan.exists) {
        plan.backup = plan.temp + L".old";
        // A file system without hard links keeps the old file aside by its rename instead.
        if (!CreateHardLinkW(plan.backup.c_str(), plan.target.c_str(), nullptr)) {
            if (!MoveFileExW(plan.target.c_str(), plan.backup.c_str(), MOVEFILE_WRITE_THROUGH)) {
                plan.backup.clear();
                return OutputStatus::not_written;
            }
            moved = true;
        }
    }
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (out.replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (MoveFileExW(plan.temp.c_str(), plan.target.c_str(), flags)) {
        plan.swapped = true;
        return OutputStatus::written;
    }
    const DWORD error = GetLastError();
    if (!plan.backup.empty()) {
        if (moved)
            MoveFileExW(plan.backup.c_str(), plan.target.c_str(), MOVEFILE_WRITE_THROUGH);
        else
            DeleteFileW(plan.backup.c_str());
        plan.backup.clear();
    }
    return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? OutputStatus::exists
                                                                       : OutputStatus::not_written;
}

void Undo(Plan& plan)
{
    if (plan.backup.empty())
        DeleteFileW(plan.target.c_str());
    else if (MoveFileExW(plan.backup.c_str(), plan.target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        plan.backup.clear();
}

void Settle(Plan& plan)
{
    if (!plan.backup.empty())
        DeleteFileW(plan.backup.c_str());
}

void Release(Plan& plan)
{
    if (plan.made && !plan.swapped)
        DeleteFileW(plan.temp.c_str());
}

void HoldSignals()
{
    AcquireSRWLockExclusive(&g_lock);
}

void ReleaseSignals()
{
    ReleaseSRWLockExclusive(&g_lock);
}

void ForgetSystemError()
{
    SetLastError(0);
    errno = 0;
}

void DescribeSystemError(char* out, std::size_t size)
{
    // The runtime's own calls (the file written in place) set errno alone.
    const DWORD error = GetLastError();
    out[0] = '\0';
    if (error)
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, out,
                       static_cast<DWORD>(size), nullptr);
    else if (errno)
        std::snprintf(out, size, "%s", std::strerror(errno));
    // A message of the system ends with a full stop and a line break.
    for (std::size_t n = std::strlen(out); n > 0 && std::strchr(". \r\n", out[n - 1]); --n)
        out[n - 1] = '\0';
}
