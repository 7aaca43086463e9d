// The interface the page uses and the tests drive, window.sorvel: sorvel.convert, sorvel.extract
// and sorvel.group give the console program's statuses and messages (status 0 and an empty
// message on success); the C++ glue does the work, words every message and knows every limit.
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
      return {status: f(...put_in), message: string(_sorvel_message()), hint: string(_sorvel_hint())};
    } catch (e) {
      if (!(e instanceof RangeError)) throw e;
      _sorvel_clear();
      return {status: 4, message: 'ERROR: out of memory', hint: ''};
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

  return {
    // Text file `bytes`, named o.file, to a variable file, as `sorvel [-u|-r] [-s] [-a] [-f folder]
    // [-m model] file [name]` does (o.replace for -r, o.split for -s, o.archive for -a, o.folder
    // for -f): {status, message, hint (the next step after a refusal), name, fileName, bytes,
    // used (bytes of data), line and column (of a refusal, else 0), parts (with -s, the names of
    // the variables of a text split in several)}; bytes empty unless status is 0, when the message
    // is -r's note. Reads no more of `bytes` than the console program reads of the file.
    convert: (bytes, o = {}) => {
      const utf8 = o.utf8 !== false, replace = !!o.replace, split = !!o.split;
      bytes = bytes.subarray(0, _sorvel_text_bytes(utf8, replace, split));
      const r = file(call(_sorvel_convert, bytes, bytes.length, o.file || '', o.name, o.model || '89', utf8, replace,
                          split, o.folder || null, !!o.archive));
      const parts = Array.from({length: Math.max(0, _sorvel_count() - 1)}, (_, i) => string(_sorvel_name(i + 1)));
      return Object.assign(r, {used: _sorvel_used(), line: _sorvel_line(), column: _sorvel_column(), parts});
    },
    // Variable file `bytes`, named o.file, to texts, as `sorvel -x [-u] file` does: {status,
    // message, texts: [{name, fileName, bytes}]}, sorted by name, none unless status is 0.
    extract: (bytes, o = {}) => {
      bytes = bytes.subarray(0, _sorvel_variable_file_bytes());
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
    // The variable name proposed for the file named `file`: one the calculator accepts, in
    // ASCII when utf8 is false.
    proposeName: (file, utf8 = true) => ask(_sorvel_proposed_name, file, utf8),
    // Why the calculator would not take variable name `name` ("is empty", ...), or ''.
    nameProblem: (name) => ask(_sorvel_name_problem, name),
    // The most data one variable holds; the most bytes convert reads of a text in a mode, and
    // extract of a variable file.
    get maxData() { return _sorvel_max_data(); },
    textBytes: (o = {}) => _sorvel_text_bytes(o.utf8 !== false, !!o.replace, !!o.split),
    get variableFileBytes() { return _sorvel_variable_file_bytes(); },
  };
})();
