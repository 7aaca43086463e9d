// The interface the page uses and the tests drive, window.sorvel: sorvel.convert, sorvel.extract
// and sorvel.group give the console program's statuses and messages (status 0 and an empty
// message on success), and the same in a teacher's words with the next step; the C++ glue does
// the work, keeps every message as the program words it, words it again by its code and knows
// every limit.
window.sorvel = (() => {
  const encoder = new TextEncoder(), decoder = new TextDecoder();
  let held = [];

  const put = (bytes) => {
    const at = _malloc(bytes.length + 1);
    if (!at) throw new RangeError('out of memory');
    held.push(at);
    HEAPU8.set(bytes, at);
    HEAPU8[at + bytes.length] = 0;
    return at;
  };
  const encodings = ['calculator', 'utf8', 'windows1252', 'utf16', 'auto'];
  const text = (s) => (s == null ? 0 : put(encoder.encode(s)));
  const string = (at) => decoder.decode(HEAPU8.subarray(at, HEAPU8.indexOf(0, at)));
  const output = (i) => {
    const data = _sorvel_data(i);
    return {name: string(_sorvel_name(i)), fileName: string(_sorvel_file_name(i)),
            bytes: HEAPU8.slice(data, data + _sorvel_size(i))};
  };
  // Runs the glue's function `f` on `args` (byte arrays put in its memory, strings as UTF-8,
  // undefined as null) and frees what was put in.
  const call = (f, ...args) => {
    try {
      const put_in = args.map((a) => (a instanceof Uint8Array ? put(a) : typeof a == 'string' || a == null ? text(a) : a));
      return {status: f(...put_in), message: string(_sorvel_message()), words: string(_sorvel_words())};
    } catch (e) {
      if (!(e instanceof RangeError)) throw e;
      _sorvel_clear();
      return {status: 4, message: 'ERROR: out of memory', words: 'The browser has no memory left for this file. Close other tabs or reload the page, then try again.'};
    } finally {
      held.forEach((at) => _free(at));
      held = [];
    }
  };
  // The string that the glue's function `f` gives for string `s`.
  const ask = (f, s, ...more) => {
    try {
      return string(f(text(s), ...more));
    } finally {
      held.forEach((at) => _free(at));
      held = [];
    }
  };
  // The one file a call made: its name, set whenever the name was taken, and its bytes.
  const file = (r) => {
    const {name, fileName, bytes} = _sorvel_count() ? output(0) : {name: '', fileName: '', bytes: new Uint8Array(0)};
    return Object.assign(r, {name, fileName, bytes});
  };

  // The USB devices the core reaches calculators through, as WebUSB's filters: the cable, then
  // each calculator's own port.
  const devices = [];
  for (let i = 0, product; (product = _sorvel_link_product(i)); ++i) devices.push({vendorId: _sorvel_link_vendor(), productId: product});
  // Why the transport stopped the device, as it tells the core (sorvel_link_fault).
  const GONE = 1, STALLED = 2, HALTED = 3, BABBLE = 4, CANCELLED = 5;
  // What a wait ended with when no transfer completed: its time ran out, or Cancel.
  const LATE = 'late', CANCEL = 'cancel';

  // What to do next after a failure of code `code` (sorvel_link_failure_code) with the
  // variables `names`, in a teacher's words.
  const nextStep = (code, names) => ({
    silent: 'The calculator did not answer. Turn it on, leave it at the home screen, check that the cable is in at both ends, then try again.',
    gone: 'The cable or the calculator was unplugged. Plug it in again, then try again.',
    stalled: 'The calculator stopped taking the bytes. Press ESC on it, leave it at the home screen, then try again.',
    cable: 'The cable reported a fault. Unplug it, plug it in again, then try again.',
    cancelled: 'If the calculator shows a link error, press ESC on it before you try again.',
    busy: 'The calculator is busy. Leave it at the home screen (press ESC, or 2nd QUIT), then try again.',
    memory: "The calculator's memory is full. Archive or delete variables on it, then try again.",
    too_large: 'The calculator has no room for a variable this large. Archive or delete variables on it, or tick Split long texts, then try again.',
    locked: `A locked variable ${names} is on the calculator. Unlock it there, or choose another name.`,
    archived: `An archived variable ${names} is on the calculator. Unarchive or delete it there, or choose another name.`,
    locked_or_archived: `A locked or archived variable ${names} is on the calculator. Unlock, unarchive or delete it there, or choose another name.`,
    name: 'The calculator does not take this name. Choose another variable name, then try again.',
    missing: "The calculator no longer holds this text. List the calculator's texts again.",
    damaged: 'Bytes were damaged on the way. Push the cable in firmly at both ends, then try again.',
    unexpected: 'The calculator answered out of turn. Press ESC on it, leave it at the home screen, then try again.',
    model: 'The calculator is another model than the one chosen. Choose its model under Calculator, then try again.',
    too_many: 'The calculator holds more variables than the page can list. Delete some on it, then try again.',
  })[code] || 'Leave the calculator at the home screen, make room in its memory or choose another name, then try again.';

  // What this system needs before the browser may open the cable: a udev rule on Linux (and, for
  // Ubuntu's Chromium, a snap connection), Microsoft's WinUSB driver on Windows, nothing on
  // ChromeOS and macOS. {hint, lines to copy}.
  const openStep = () => {
    const system = (navigator.userAgentData || {}).platform || navigator.platform || '';
    const hex = (n) => n.toString(16).padStart(4, '0');
    const rule = (d) => `SUBSYSTEM=="usb", ATTRS{idVendor}=="${hex(d.vendorId)}", ATTRS{idProduct}=="${hex(d.productId)}", TAG+="uaccess"`;
    if (system.startsWith('Linux'))
      return {hint: 'This computer does not let the browser reach the cable. As root, save the lines below that begin with SUBSYSTEM as the file ' +
                    '/etc/udev/rules.d/69-sorvel-ti.rules and run the next one, plug the cable in again, then try again. ' +
                    "With Ubuntu's Chromium (a snap), also run the last line as root.",
              lines: [...devices.map(rule), 'udevadm control --reload-rules && udevadm trigger', 'snap connect chromium:raw-usb']};
    if (system.startsWith('Win'))
      return {hint: "Windows lets the browser reach the cable only through Microsoft's WinUSB driver. Install it with Zadig " +
                    '(https://zadig.akeo.ie): choose TI-GRAPH LINK USB (or the calculator), WinUSB, then Replace Driver. ' +
                    'If it has WinUSB already, another program (TI Connect, TiLP) holds the cable: close it. Then try again.'};
    return {hint: 'Nothing needs installing on this system. Unplug the cable, plug it in again, then try again.'};
  };

  // Runs one transfer over `device` (a USBDevice or an object with its members) for model option
  // `model`, started by `start(now)` (0, or why not: 1 nothing to send, 2 out of memory, 3 no
  // device of the calculator's): the device is opened as libticables2 opens it, drained of what
  // it still held, then the bytes go between it and the core until the core ends, the device
  // stops or o.signal cancels; one at a time, as the core holds one link. Returns {status: 0, or
  // 7 when it failed (a status of the page's alone), message, hint (the next step, with `names()`
  // the variables concerned), lines (to copy), found (the model the calculator said it is, when
  // not `model`)}; o.onProgress gets (bytes written, total) as they grow.
  let linking = false;
  const transfer = async (device, model, start, names, o = {}) => {
    const failed = (message, step) => Object.assign({status: 7, message: `ERROR: ${message}`, lines: [], found: ''}, step);
    if (linking) return failed('another transfer is running', {hint: 'Wait for it to end, then try again.'});
    linking = true;
    try {
      const begun = start(performance.now());
      if (begun)
        return failed(['', 'no variable to send', 'out of memory', "this USB device is neither the TI-GRAPH LINK USB cable nor a calculator's own port"][begun],
                      {hint: ['', 'Choose a file that holds a text.', 'Reload the page, then try again.', 'Choose the cable or the calculator.'][begun]});
      let endpoints;
      try {
        await device.open();
        await device.selectConfiguration(1);
      } catch (e) {
        return failed(`the cable could not be opened (${e.message})`, openStep());
      }
      try {
        await device.claimInterface(0);
        endpoints = device.configuration.interfaces.find((i) => i.interfaceNumber == 0).alternate.endpoints;
        for (const e of endpoints) await device.clearHalt(e.direction, e.endpointNumber);
      } catch (e) {
        await device.close().catch(() => {});
        return failed(`the cable could not be claimed (${e.message})`,
                      {hint: 'Another program (TI Connect, TiLP) holds the cable. Close it, then try again.'});
      }
      const fault = await move(device, endpoints.find((e) => e.direction == 'in'), endpoints.find((e) => e.direction == 'out'), o);
      if (fault) _sorvel_link_fault(fault, performance.now());
      await device.close().catch(() => {});
      if (o.onProgress) o.onProgress(_sorvel_link_progress(), _sorvel_link_total());
      const option = string(_sorvel_link_found_option()), found = option && option != model ? string(_sorvel_link_found()) : '';
      if (_sorvel_link_state() == 1) return {status: 0, message: '', hint: '', lines: [], found};
      return failed(string(_sorvel_link_failure()), {hint: nextStep(string(_sorvel_link_failure_code()), names()), found});
    } finally {
      linking = false;
    }
  };

  // Moves the bytes between the core and the device's bulk endpoints `into` and `out` until the
  // core ends; first reads what the cable still holds until it is quiet for 150 ms, and throws it
  // away. Every transfer's status is checked: a halt is cleared once, a second one is the cable's
  // fault, as is 'babble'. Each write is raced against its own limit and Cancel, each wait for the
  // calculator lasts no longer than the core asks. Returns 0, or why the device was stopped.
  const move = async (device, into, out, o) => {
    const cancelled = new Promise((r) => (o.signal && o.signal.aborted ? r(CANCEL) : o.signal && o.signal.addEventListener('abort', () => r(CANCEL))));
    const within = (transfer, ms) => {
      let timer;
      return Promise.race([transfer, cancelled, new Promise((r) => (timer = setTimeout(r, ms, LATE)))]).finally(() => clearTimeout(timer));
    };
    // One halt of each endpoint is cleared; reads queued before a clear may still report it.
    const halts = {in: 0, out: 0};
    let cleared = 0;
    const halted = async (endpoint) => {
      if (halts[endpoint.direction]++) return HALTED;
      await device.clearHalt(endpoint.direction, endpoint.endpointNumber);
      return (++cleared, 0);
    };
    // One max packet a read, as libticables2 reads, with a few queued so that no packet waits.
    const reads = [];
    const queue = () => {
      while (reads.length < 3) {
        const before = cleared;
        reads.push(device.transferIn(into.endpointNumber, into.packetSize).then((r) => ({r, before}), (error) => ({error})));
      }
    };
    const write = async (bytes) => {
      for (;;) {
        const got = await within(device.transferOut(out.endpointNumber, bytes).then((r) => ({r}), (error) => ({error})),
                                 _sorvel_link_write_limit(bytes.length));
        if (got == LATE || got == CANCEL) return got == LATE ? STALLED : CANCELLED;
        if (got.error) return GONE;
        if (got.r.status == 'ok') return 0;
        if (await halted(out)) return HALTED;
        const rest = bytes.subarray(got.r.bytesWritten);
        if (bytes.length && !rest.length) return 0;
        bytes = rest;
      }
    };
    try {
      const drainFrom = performance.now();
      let draining = true, fault = 0;
      queue();
      while (!fault) {
        for (let at; !draining && !fault && ((at = _sorvel_link_output(performance.now())), _sorvel_link_output_size());) {
          const zeroLength = _sorvel_link_zero_length();
          fault = (await write(HEAPU8.slice(at, at + _sorvel_link_output_size()))) || (zeroLength ? await write(new Uint8Array(0)) : 0);
          if (!fault) _sorvel_link_written(performance.now());
          if (o.onProgress) o.onProgress(_sorvel_link_progress(), _sorvel_link_total());
        }
        if (fault || (!draining && _sorvel_link_state() != 0)) return fault;
        const got = await within(reads[0], draining ? 150 : _sorvel_link_next(performance.now()));
        if (got == CANCEL) return CANCELLED;
        if (got == LATE) {
          draining ? (draining = false) : _sorvel_link_feed(0, 0, performance.now());
          continue;
        }
        reads.shift();
        const r = got.r;
        fault = got.error ? GONE : r.status == 'babble' ? BABBLE : r.status == 'stall' ? (got.before < cleared ? 0 : await halted(into)) : 0;
        if (!fault && r.status == 'ok' && !draining) call((at, n) => _sorvel_link_feed(at, n, performance.now()), new Uint8Array(r.data.buffer, r.data.byteOffset, r.data.byteLength), r.data.byteLength);
        // A cable that never falls quiet is given a second, then the core meets what it sends.
        draining &&= performance.now() - drainFrom < 1000;
        queue();
      }
      return fault;
    } catch (e) {
      return GONE;
    }
  };
  // The model (-m option) behind `device`: the calculator whose own port it is; over the cable,
  // that of a file opening with `signature`, or o.model.
  const modelOf = (device, o, signature = '') => ask(_sorvel_link_model, signature, device.productId, text(o.model || ''));

  return {
    // Sends the variables of variable file `bytes` (one variable or a group) to the calculator on
    // `device`; for the cable, the file's signature (and o.model among the models whose files
    // open with it) names the model, unless the calculator says it is another. {status (0 when the calculator took
    // every one), message, hint, lines, found (as transfer gives them), names (folder\name of each,
    // joined by ", "), stored (folder\name of each the calculator stored, even when a later one failed)}.
    send: async (device, bytes, o = {}) => {
      const model = modelOf(device, o, decoder.decode(bytes.subarray(0, 8)));
      const names = () => string(_sorvel_link_sent_names()).split(', '), stored = () => names().slice(0, _sorvel_link_stored());
      // The next step names the variable the send failed on.
      const failedOn = () => names()[stored().length] || names().join(', ');
      const r = await transfer(device, model, (now) => call(_sorvel_link_send, bytes, bytes.length, device.productId, model, now).status, failedOn, o);
      return Object.assign(r, {names: names().join(', '), stored: stored()});
    },
    // The calculator's variables, as {status, message, hint, lines, found, entries: [{folder, name,
    // type, size, raw}]} (folders left out; folder and name in UTF-8, raw their bytes on the
    // calculator, for receive); o.model names the model behind the cable.
    list: async (device, o = {}) => {
      const model = modelOf(device, o);
      const r = await transfer(device, model, (now) => call(_sorvel_link_list, device.productId, model, now).status, () => '', o);
      const bytes = (at) => HEAPU8.slice(at, HEAPU8.indexOf(0, at));
      r.entries = Array.from({length: r.status ? 0 : _sorvel_link_count()}, (_, i) => {
        const raw = {folder: bytes(_sorvel_link_entry_folder(i)), name: bytes(_sorvel_link_entry_name(i))};
        return {folder: string(_sorvel_link_shown(_sorvel_link_entry_folder(i))),
                name: string(_sorvel_link_shown(_sorvel_link_entry_name(i))), type: _sorvel_link_entry_type(i),
                size: _sorvel_link_entry_size(i), raw};
      }).filter((e) => e.type != 0x1F);
      return r;
    },
    // Takes text variable {folder, name, type} (0x0B or 0x0C, as list gives it; or, as list gives
    // them, folder and name as their bytes in raw) off the calculator: {status, message, hint,
    // lines, found, fileName and bytes (its variable file), texts (as extract gives them)}.
    receive: async (device, v, o = {}) => {
      const asked = modelOf(device, o), raw = v.raw || v;
      const r = await transfer(device, asked, (now) => call(_sorvel_link_receive, device.productId, asked, raw.folder, raw.name, v.type || 0x0C, now).status,
                               () => `${v.folder}\\${v.name}`, o);
      if (r.status) return Object.assign(r, {fileName: '', bytes: new Uint8Array(0), texts: []});
      const model = string(_sorvel_link_found_option()) || asked, at = call(_sorvel_link_received, model);
      const bytes = HEAPU8.slice(at.status, at.status + _sorvel_link_received_size());
      const fileName = v.name + sorvel.models.find((m) => m.option == model).extension, x = sorvel.extract(bytes, {file: fileName, utf8: o.utf8});
      return Object.assign(r, {fileName, bytes, texts: x.texts, status: x.status, message: x.message});
    },
    // Text file `bytes`, named o.file, to a variable file, as `sorvel [--encoding=E] [-r] [-s] [-a]
    // [-f folder] [-m model] file [name]` does (o.encoding, E as encodings names it: utf8 unless
    // o.utf8 is false and no o.replace, then calculator; o.model an option of sorvel.models, the first when not
    // given; o.replace for -r, unless E is calculator; o.split for -s, o.archive for -a, o.folder for
    // -f): {status, message, words (the same, in a teacher's words with the next step), name,
    // fileName, bytes, used (bytes of data), line and column (of a refusal, else 0), parts (with
    // -s, the names of the variables of a text split in several), encoding (how it was read, auto
    // as found)}; bytes empty unless status is 0, when the message holds the notes. Reads no more
    // of `bytes` than the console program reads of the file.
    convert: (bytes, o = {}) => {
      const e = o.encoding ? encodings.indexOf(o.encoding) : +(o.utf8 !== false || !!o.replace), replace = !!o.replace, split = !!o.split;
      bytes = bytes.subarray(0, _sorvel_text_bytes(e != 0, replace, split));
      const r = file(call(_sorvel_convert, bytes, bytes.length, o.file || '', o.name, o.model, e, replace,
                          split, o.folder || null, !!o.archive));
      const parts = Array.from({length: Math.max(0, _sorvel_count() - 1)}, (_, i) => string(_sorvel_name(i + 1)));
      return Object.assign(r, {used: _sorvel_used(), line: _sorvel_line(), column: _sorvel_column(), parts,
                               encoding: encodings[_sorvel_encoding()]});
    },
    // The readings of a text, as --encoding names them without - (calculator: its own bytes).
    encodings,
    // Variable file `bytes`, named o.file, to texts, as `sorvel -x [-u] file` does: {status,
    // message, words, texts: [{name, fileName, bytes}]}, sorted by name, none unless status is 0.
    extract: (bytes, o = {}) => {
      bytes = bytes.subarray(0, _sorvel_variable_file_bytes());
      const r = call(_sorvel_extract, bytes, bytes.length, o.file || '', o.utf8 !== false);
      r.texts = Array.from({length: _sorvel_count()}, (_, i) => output(i));
      return r;
    },
    // The texts `entries`, [{file, bytes}], each a text file's name and the variable file convert
    // made of it, as one group file, as `sorvel [-u] [-m model] -g texts.89g file...` does:
    // {status, message, words (also the note when the variables, not archived, take more RAM
    // than the model leaves free), fileName, bytes}.
    group: (entries, o = {}) => {
      const all = new Uint8Array(entries.reduce((n, e) => n + e.bytes.length, 0)), sizes = new Uint32Array(entries.length);
      let at = 0;
      entries.forEach((e, i) => { all.set(e.bytes, at); at += sizes[i] = e.bytes.length; });
      return file(call(_sorvel_group, all, new Uint8Array(sizes.buffer), entries.map((e) => e.file + '\0').join(''),
                       entries.length, o.model, o.utf8 !== false));
    },
    // The calculators of the family as the core's table of models lists them: {option (-m's value,
    // '' for one that takes another's files), name, extension, groupExtension, archive (true when
    // it has one)}, the default first.
    models: Array.from({length: _sorvel_model_count()}, (_, i) => ({
      option: string(_sorvel_model_option(i)), name: string(_sorvel_model_name(i)),
      extension: string(_sorvel_model_extension(i)), groupExtension: string(_sorvel_model_group_extension(i)),
      archive: !!_sorvel_model_archive(i)})),
    // The USB devices the page links through, as WebUSB's filters ({vendorId, productId}).
    devices,
    // True when `bytes` open with the signature of a variable file.
    isVariableFile: (bytes) => call(_sorvel_is_variable_file, bytes.subarray(0, 8), Math.min(bytes.length, 8)).status == 1,
    // The variable name proposed for the file named `file`: one the calculator accepts, in
    // ASCII when utf8 is false; {name, passedOver (the name the calculator keeps that it passed
    // over, or '')}.
    proposeName: (file, utf8 = true) => ({name: ask(_sorvel_proposed_name, file, utf8), passedOver: string(_sorvel_passed_over())}),
    // Why the calculator would not take variable name `name` ("is empty", ...), or ''.
    nameProblem: (name) => ask(_sorvel_name_problem, name),
    // The most data one variable holds; the most bytes convert reads of a text in a mode, and
    // extract of a variable file.
    get maxData() { return _sorvel_max_data(); },
    textBytes: (o = {}) => _sorvel_text_bytes(o.utf8 !== false, !!o.replace, !!o.split),
    get variableFileBytes() { return _sorvel_variable_file_bytes(); },
  };
})();
