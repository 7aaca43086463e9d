// The interface the page uses and the tests drive: sorvel.convert, sorvel.extract and
// sorvel.group give the console program's statuses and messages (status 0 and an empty message
// on success); the C++ glue does the work and words every message.
const sorvel = (() => {
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
      return {status: f(...put_in), message: string(_sorvel_message())};
    } catch (e) {
      if (!(e instanceof RangeError)) throw e;
      _sorvel_clear();
      return {status: 4, message: 'ERROR: out of memory'};
    } finally {
      held.forEach((at) => _free(at));
      held = [];
    }
  };
  // The one file a call made: its name, set whenever the name was taken, and its bytes.
  const file = (r) => {
    const {fileName, bytes} = _sorvel_count() ? output(0) : {fileName: '', bytes: new Uint8Array(0)};
    return Object.assign(r, {fileName, bytes});
  };

  return {
    // Text file `bytes`, named o.file, to a variable file, as `sorvel [-u|-r] [-m model] file [name]`
    // does (o.replace for -r): {status, message, fileName, bytes, used (bytes of data), line and
    // column (of a refusal, else 0)}; bytes empty unless status is 0, when the message is -r's note.
    convert: (bytes, o = {}) => {
      bytes = bytes.subarray(0, _sorvel_text_bytes(o.utf8 !== false, !!o.replace));
      const r = file(call(_sorvel_convert, bytes, bytes.length, o.file || '', o.name, o.model || '89', o.utf8 !== false,
                          !!o.replace));
      return Object.assign(r, {used: _sorvel_used(), line: _sorvel_line(), column: _sorvel_column()});
    },
    // Variable file `bytes`, named o.file, to texts, as `sorvel -x [-u] file` does: {status,
    // message, texts: [{name, fileName, bytes}]}, sorted by name, none unless status is 0.
    extract: (bytes, o = {}) => {
      const r = call(_sorvel_extract, bytes, bytes.length, o.file || '', o.utf8 !== false);
      r.texts = Array.from({length: _sorvel_count()}, (_, i) => output(i));
      return r;
    },
    // The texts `entries`, [{file, bytes}], each a text file's name and the variable file convert
    // made of it, as one group file, as `sorvel [-u] [-m model] -g texts.89g file...` does:
    // {status, message, fileName, bytes}.
    group: (entries, o = {}) => {
      const all = new Uint8Array(entries.reduce((n, e) => n + e.bytes.length, 0)), sizes = new Uint32Array(entries.length);
      let at = 0;
      entries.forEach((e, i) => { all.set(e.bytes, at); at += sizes[i] = e.bytes.length; });
      return file(call(_sorvel_group, all, new Uint8Array(sizes.buffer), entries.map((e) => e.file + '\0').join(''),
                       entries.length, o.model || '89', o.utf8 !== false));
    },
    // True when `bytes` open with the signature of a variable file.
    isVariableFile: (bytes) => call(_sorvel_is_variable_file, bytes.subarray(0, 8), Math.min(bytes.length, 8)).status == 1,
  };
})();
