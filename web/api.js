// The interface the page uses and the tests drive, window.sorvel: sorvel.convert, sorvel.extract
// and sorvel.group give the console program's statuses and messages (status 0 and an empty
// message on success); the C++ glue does the work, keeps every message as the program words it,
// chooses the next step after a refusal by its code and knows every limit.
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

  // The calculator's USB devices: the TI-GRAPH LINK USB cable (classic protocol) and the TI-89
  // Titanium's own port.
  const cable = 0xE001, titanium = 0xE004;
  // What to do next after the link's failure line `line`, for the variables named `names`.
  const linkHint = (line, names) =>
    /did not answer/.test(line) ? 'Turn the calculator on and leave it at the home screen' :
    /memory is full|too large/.test(line) ? "The calculator's memory is full: archive or delete variables" :
    /locked or archived/.test(line) ? `A locked or archived variable ${names} exists: unlock it, or choose another name` :
    /locked/.test(line) ? `A locked variable ${names} exists: unlock it, or choose another name` :
    /archived/.test(line) ? `An archived variable ${names} exists: unarchive or delete it, or choose another name` :
    /does not take that name/.test(line) ? 'Choose another variable name' :
    /busy/.test(line) ? 'Leave the calculator at the home screen, then try again' :
    /went away/.test(line) ? 'Plug the cable in again, then try again' :
    /refused/.test(line) ? "Make room in the calculator's memory, or choose another name" :
    /has no variable/.test(line) ? 'List the variables again' : 'Try again';

  // Runs one transfer, started at the time given by `start(now)`, over `device` (a USBDevice or an
  // object with its members): the bytes go between the device and the core until it ends, is
  // cancelled through o.signal, or the device goes; one at a time, as the core holds one link.
  // Returns {status: 0, or 7 when it failed (a status of the page's alone), message, hint};
  // o.onProgress gets (bytes acknowledged, total) as they grow.
  let linking = false;
  const transfer = async (device, start, o = {}) => {
    const failed = (message, hint) => ({status: 7, message: `ERROR: ${message}`, hint});
    if (device.productId != cable && device.productId != titanium)
      return failed('this USB device is no TI-GRAPH LINK USB cable or TI-89 Titanium', 'Choose the cable or the calculator');
    if (linking) return failed('another transfer is running', 'Wait for it to end');
    linking = true;
    try {
      return await run(device, start, o, failed);
    } finally {
      linking = false;
    }
  };
  const run = async (device, start, o, failed) => {
    try {
      await device.open();
      if (!device.configuration || device.configuration.configurationValue != 1) await device.selectConfiguration(1);
      await device.claimInterface(0);
    } catch (e) {
      try { await device.close(); } catch (_) { /* it was not open */ }
      return failed(`the cable could not be opened (${e.message})`, e.name == 'SecurityError'
        ? 'This computer does not let the browser reach the cable: on Linux, add the udev rule that sorvel\'s README gives'
        : 'Another program is using the cable: close it');
    }
    const iface = device.configuration.interfaces.find((i) => i.interfaceNumber == 0);
    const endpoints = iface ? (iface.alternates[0] || iface.alternate).endpoints.filter((e) => e.type == 'bulk') : [];
    const into = endpoints.find((e) => e.direction == 'in'), out = endpoints.find((e) => e.direction == 'out');
    const begun = into && out ? start(performance.now()) : 3;
    if (begun) {
      try { await device.close(); } catch (_) { /* gone already */ }
      return failed(['', 'no variable to send', 'out of memory', 'the device has no bulk endpoints'][begun], '');
    }
    const packet = into.packetSize || 64, readSize = Math.ceil(4096 / packet) * packet;
    let reading = null, shown = -1, cancelled = false;
    try {
      for (;;) {
        for (let at; (at = _sorvel_link_output(performance.now())), _sorvel_link_output_size();) {
          await device.transferOut(out.endpointNumber, HEAPU8.slice(at, at + _sorvel_link_output_size()));
          if (_sorvel_link_zero_length()) await device.transferOut(out.endpointNumber, new Uint8Array(0));
        }
        const done = _sorvel_link_acknowledged();
        if (o.onProgress && done != shown) o.onProgress((shown = done), _sorvel_link_total());
        if (_sorvel_link_state() != 0) break;
        if (o.signal && o.signal.aborted) {
          cancelled = true;
          break;
        }
        // A read stays pending while the calculator is silent: the time passes every tenth of a second.
        if (!reading) (reading = device.transferIn(into.endpointNumber, readSize)).catch(() => {});
        let timer;
        const got = await Promise.race([reading, new Promise((r) => (timer = setTimeout(r, 100)))]);
        clearTimeout(timer);
        if (!got) {
          _sorvel_link_feed(0, 0, performance.now());
          continue;
        }
        reading = null;
        const bytes = new Uint8Array(got.data.buffer, got.data.byteOffset, got.data.byteLength);
        call((at, n) => _sorvel_link_feed(at, n, performance.now()), bytes, bytes.length);
      }
    } catch (e) {
      _sorvel_link_gone();
    }
    if (o.onProgress && _sorvel_link_acknowledged() != shown) o.onProgress(_sorvel_link_acknowledged(), _sorvel_link_total());
    try {
      await device.releaseInterface(0);
      await device.close();
    } catch (e) { /* gone already */ }
    if (cancelled) return failed('cancelled', 'If the calculator shows a link error, press ESC on it');
    if (_sorvel_link_state() == 1) return {status: 0, message: '', hint: ''};
    const line = string(_sorvel_link_failure());
    return failed(line, linkHint(line, string(_sorvel_link_sent_names())));
  };
  const modelOf = (device, o) => (device.productId == titanium ? '89' : o.model || '89');

  return {
    // Sends the variables of variable file `bytes` (one variable or a group) to the calculator on
    // `device`; for the cable, the file's signature (and o.model, 92p or v200, for **TI92P*) names
    // the model. {status (0 when the calculator took every one), message, hint, names (folder\name
    // of each, joined by ", ")}.
    send: async (device, bytes, o = {}) => {
      const signature = decoder.decode(bytes.subarray(0, 8));
      const model = device.productId == titanium ? '89' : signature == '**TI92**' ? '92'
                  : signature == '**TI92P*' || signature == '**V200**' ? (o.model == 'v200' ? 'v200' : '92p') : '89';
      const r = await transfer(device, (now) => call(_sorvel_link_send, bytes, bytes.length, device.productId == titanium, model, now).status, o);
      return Object.assign(r, {names: string(_sorvel_link_sent_names())});
    },
    // The calculator's variables, as {status, message, hint, entries: [{folder, name, type, size,
    // raw}]} (folders left out; folder and name in UTF-8, raw their bytes on the calculator, for
    // receive); o.model names the model behind the cable.
    list: async (device, o = {}) => {
      const r = await transfer(device, (now) => call(_sorvel_link_list, device.productId == titanium, modelOf(device, o), now).status, o);
      const bytes = (at) => HEAPU8.slice(at, HEAPU8.indexOf(0, at));
      r.entries = Array.from({length: r.status ? 0 : _sorvel_link_count()}, (_, i) => {
        const raw = {folder: bytes(_sorvel_link_entry_folder(i)), name: bytes(_sorvel_link_entry_name(i))};
        return {folder: string(_sorvel_link_shown(_sorvel_link_entry_folder(i))),
                name: string(_sorvel_link_shown(_sorvel_link_entry_name(i))), type: _sorvel_link_entry_type(i),
                size: _sorvel_link_entry_size(i), raw};
      }).filter((e) => e.type != 0x1F);
      return r;
    },
    // Takes text variable {folder, name} (or, as list gives them, their bytes in raw) off the calculator: {status, message, hint, fileName and
    // bytes (its variable file), texts (as extract gives them)}.
    receive: async (device, v, o = {}) => {
      const model = modelOf(device, o);
      const r = await transfer(device, (now) => call(_sorvel_link_receive, device.productId == titanium, model,
                                                   (v.raw || v).folder, (v.raw || v).name, now).status, o);
      if (r.status) return Object.assign(r, {fileName: '', bytes: new Uint8Array(0), texts: []});
      const at = call(_sorvel_link_received, model);
      const bytes = HEAPU8.slice(at.status, at.status + _sorvel_link_received_size());
      const ext = model == '92' ? '.92t' : model == '92p' ? '.9xt' : model == 'v200' ? '.v2t' : '.89t';
      const fileName = v.name + ext, x = sorvel.extract(bytes, {file: fileName, utf8: o.utf8});
      return Object.assign(r, {fileName, bytes, texts: x.texts, status: x.status, message: x.message});
    },
    // Text file `bytes`, named o.file, to a variable file, as `sorvel [-u|-r] [-s] [-a] [-f folder]
    // [-m model] file [name]` does (o.model an option of sorvel.models, the first when not given) (o.replace for -r, o.split for -s, o.archive for -a, o.folder
    // for -f): {status, message, hint (the next step after a refusal), name, fileName, bytes,
    // used (bytes of data), line and column (of a refusal, else 0), parts (with -s, the names of
    // the variables of a text split in several)}; bytes empty unless status is 0, when the message
    // is -r's note. Reads no more of `bytes` than the console program reads of the file.
    convert: (bytes, o = {}) => {
      const utf8 = o.utf8 !== false, replace = !!o.replace, split = !!o.split;
      bytes = bytes.subarray(0, _sorvel_text_bytes(utf8, replace, split));
      const r = file(call(_sorvel_convert, bytes, bytes.length, o.file || '', o.name, o.model, utf8, replace,
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
                       entries.length, o.model, o.utf8 !== false));
    },
    // The calculators of the family as the core's table of models lists them: {option (-m's value,
    // '' for one that takes another's files), name, extension, groupExtension}, the default first.
    models: Array.from({length: _sorvel_model_count()}, (_, i) => ({
      option: string(_sorvel_model_option(i)), name: string(_sorvel_model_name(i)),
      extension: string(_sorvel_model_extension(i)), groupExtension: string(_sorvel_model_group_extension(i))})),
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
