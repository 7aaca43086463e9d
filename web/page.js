// The page: a row for each file chosen or dropped, converted or extracted through `sorvel` as
// the settings and the row's reading say, and done again whenever a setting, a row's reading or
// its variable name changes; each message in a teacher's words, ending with the next step.
(() => {
  const $ = (id) => document.getElementById(id);
  const input = $('files'), model = $('model'), replace = $('replace'), split = $('split'),
        archive = $('archive'), folder = $('folder'), rows = $('rows'), all = $('all'), clear = $('clear'),
        status = $('status'), sendAll = $('send-all'), from = $('from'), calcList = $('calc-list');
  // {file, title (its name, after its folder when taken off the calculator), bytes, li, variable
  // (a variable file), encoding (the reading chosen on the row, null for the one found), edited
  // (its name typed), result}
  const items = [];
  let group = null, made = 0;

  // The calculator's cable or port, through WebUSB: chosen once, kept for the page's life and
  // found again after a reload; one transfer at a time.
  const usbWhy = !window.isSecureContext ? 'Sending to the calculator needs this page opened from a file or over https; the downloads work as they are.'
               : !navigator.usb ? 'Sending to the calculator needs WebUSB, which Chrome, Edge and other Chromium-based browsers have (Firefox and Safari do not); the downloads work as they are.' : '';
  const filters = sorvel.devices;
  const ours = (d) => filters.some((f) => d.vendorId == f.vendorId && d.productId == f.productId);
  let device = null, busy = false;
  if (!usbWhy) {
    navigator.usb.getDevices().then((found) => (device ||= found.find(ours) || null), () => {});
    navigator.usb.addEventListener('connect', (e) => ours(e.device) && (device ||= e.device));
    navigator.usb.addEventListener('disconnect', (e) => e.device == device && (device = null));
  }
  $('usb-note').textContent = usbWhy;
  const chosenDevice = async () => (device ||= (await navigator.usb.getDevices()).find(ours) || (await navigator.usb.requestDevice({filters})));
  // The device to use, or null when the chooser was closed without one, which `place` and the
  // status then say; the focus stays on `button`.
  const chosen = async (place, button) => {
    try {
      return await chosenDevice();
    } catch (e) {
      const words = 'No cable or calculator was chosen. Press the button again and choose one when the browser asks.';
      place.replaceChildren(make('p', {className: 'error', textContent: words}));
      status.textContent = words;
      button.focus();
      return null;
    }
  };
  // What transfer `r` ended with: the model the calculator said it is when it is not the one
  // asked for (the transfer `done` as one), then `note`, or the failure with its next step and
  // the lines to copy for it.
  const found = (r, done) => (r.found ? [make('p', {className: 'note', textContent: `Found a ${r.found}; ${done} as one.`})] : []);
  const paragraphs = (r, note, done) => [...found(r, done), ...(r.status
    ? [make('p', {className: 'error', textContent: sentence(r.message)}), ...(r.hint ? [make('p', {className: 'hint', textContent: r.hint})] : []),
       ...(r.lines.length ? [make('pre', {textContent: r.lines.join('\n')})] : [])]
    : [make('p', {className: 'note', textContent: note})])];
  // `s` ending with a full stop.
  const sentence = (s) => (s && !/[.!?]$/.test(s) ? s + '.' : s);

  // A new element with properties `props` and children `kids`.
  const make = (tag, props = {}, ...kids) => {
    const e = Object.assign(document.createElement(tag), props);
    e.append(...kids);
    return e;
  };
  const link = (fileName, bytes) => make('a', {download: fileName, href: URL.createObjectURL(new Blob([bytes])), textContent: fileName});
  const forget = (li) => li.querySelectorAll('a[href]').forEach((a) => URL.revokeObjectURL(a.href));
  const options = () => ({model: model.value, replace: replace.checked, split: split.checked,
                          archive: archive.checked && !archive.disabled, folder: folder.value || undefined});

  // The calculators, from the core's table of models: named in the heading, and in the select one
  // that takes another's files beside it.
  const family = sorvel.models.map((m) => m.name);
  $('family').textContent = `${family.slice(0, -1).join(', ')} and ${family.at(-1)}`;
  for (const m of sorvel.models.filter((m) => m.option))
    model.append(make('option', {value: m.option, textContent: sorvel.models.filter((o) => o.extension == m.extension)
                                                                    .map((o) => o.name).join(' / ')}));

  // The settings, kept in this browser for the next visit.
  const boxes = {replace, split, archive};
  const save = () => {
    try {
      localStorage.setItem('sorvel', JSON.stringify(Object.assign({model: model.value, folder: folder.value},
        Object.fromEntries(Object.entries(boxes).map(([k, b]) => [k, b.checked])))));
    } catch (e) { /* storage refused: the settings last for this visit */ }
  };
  try {
    const kept = JSON.parse(localStorage.getItem('sorvel') || '{}');
    if ([...model.options].some((o) => o.value == kept.model)) model.value = kept.model;
    if (typeof kept.folder == 'string') folder.value = kept.folder;
    for (const [k, b] of Object.entries(boxes)) if (typeof kept[k] == 'boolean') b.checked = kept[k];
  } catch (e) { /* nothing kept */ }
  // Archive, off for a model that has none (from the table of models), saying so.
  const coupled = () => {
    const m = sorvel.models.find((m) => m.option == model.value);
    archive.disabled = !m.archive;
    $('archive-hint').textContent = m.archive ? '(kept through a RAM reset)' : `(off: the ${m.name} has no archive)`;
  };
  coupled();

  // The line that refusal `r` of the row `item` points at, its character marked, the text read
  // as the row reads it: lines end at CR LF, LF or a lone CR, and columns count code points, a
  // byte order mark at the start not counted.
  const refusedLine = (item, r) => {
    const as = {utf8: 'utf-8', windows1252: 'windows-1252', utf16: item.bytes[0] == 0xFE ? 'utf-16be' : 'utf-16le'}[r.encoding];
    if (!as) return [];
    const chars = Array.from(new TextDecoder(as).decode(item.bytes).split(/\r\n|\r|\n/)[r.line - 1] || '');
    const at = r.column - 1, from = Math.max(0, at - 40);
    return [make('pre', {}, (from ? '…' : '') + chars.slice(from, at).join(''), make('mark', {textContent: chars[at] || ' '}),
                 chars.slice(at + 1, at + 41).join('') + (chars.length > at + 41 ? '…' : ''))];
  };

  // Why the page refuses variable name `name` though the program would take it: a download would
  // be saved under another name, or none. Null when it does not.
  const pageRefusal = (name) => {
    if (name == '') return {words: 'This text has no variable name. Type a variable name.'};
    if (/[/\\]|^\.|\.\./.test(name))
      return {words: `A browser would save a file named ${name} under another name. Type a name without / or \\ that does not begin with a dot.`};
    return null;
  };

  // The send buttons and the list button, usable unless a transfer runs or WebUSB is missing.
  const refresh = () => {
    for (const i of items) if (i.send) i.send.disabled = busy || !!usbWhy || i.result.status != 0;
    sendAll.disabled = busy || !!usbWhy || !group || group.status != 0;
    from.disabled = busy || !!usbWhy;
    calcList.querySelectorAll('button').forEach((b) => (b.disabled = busy));
  };
  const using = async (work) => {
    busy = true;
    refresh();
    try {
      return await work();
    } finally {
      busy = false;
      refresh();
    }
  };

  // Sends variable file `bytes`, called `what`, to the calculator on device `d`: its progress
  // (announced at each quarter) and the Cancel that aborts `stop` go in `place`. Returns what
  // sorvel.send gives.
  const sending = async (d, place, bytes, what, stop) => {
    const bar = make('progress', {max: 1, value: 0}), cancel = make('button', {type: 'button', textContent: 'Cancel'});
    cancel.setAttribute('aria-label', `Cancel sending ${what}`);
    cancel.addEventListener('click', () => stop.abort());
    place.replaceChildren(make('div', {className: 'fields'}, make('label', {}, 'Sending ', bar), cancel));
    cancel.focus();
    status.textContent = `Sending ${what} to the calculator`;
    let quarter = 0;
    return await sorvel.send(d, bytes, {model: model.value, signal: stop.signal, onProgress: (done, total) => {
      bar.max = total || 1;
      bar.value = done;
      const q = total ? Math.floor(4 * done / total) : 0;
      if (q > quarter && q < 4) status.textContent = `Sending ${what}: ${(quarter = q) * 25}%`;
    }});
  };
  // Shows `kids` in `place` and announces them for `what`; the focus back on `button` if it fell.
  const outcome = (place, kids, what, button) => {
    place.replaceChildren(...kids);
    status.textContent = `${what}: ${kids.map((k) => k.textContent).join(' ')}`;
    if (document.activeElement == document.body || !document.activeElement) button.focus();
  };
  const sendTo = async (place, bytes, what, button) => {
    const d = await chosen(place, button);
    if (!d) return;
    const r = await using(() => sending(d, place, bytes, what, new AbortController()));
    outcome(place, paragraphs(r, `Sent to the calculator as ${r.names}.`, 'sent'), what, button);
  };

  // Lists the calculator's texts, to be ticked and taken off it as rows of their own.
  from.addEventListener('click', async () => {
    const d = await chosen(calcList, from);
    if (!d) return;
    status.textContent = "Listing the calculator's texts";
    const r = await using(() => sorvel.list(d, {model: model.value}));
    // Texts as the calculator lists them: made on it (0x0B) or sent to it (0x0C).
    const texts = r.entries.filter((e) => e.type == 0x0B || e.type == 0x0C);
    if (r.status || !texts.length)
      return outcome(calcList, paragraphs(r, 'The calculator holds no text. Send it some first.', 'listed'), 'The list', from);
    const boxes = texts.map(() => make('input', {type: 'checkbox'}));
    const take = make('button', {type: 'button', textContent: 'Take the ticked texts off the calculator'}), out = make('div');
    calcList.replaceChildren(...found(r, 'listed'), make('fieldset', {}, make('legend', {textContent: `The calculator's texts (${texts.length})`}),
      ...texts.map((e, i) => make('label', {}, boxes[i], ` ${e.folder}\\${e.name} (${e.size.toLocaleString('en')} bytes)`))), take, out);
    status.textContent = `The calculator holds ${texts.length} text${texts.length == 1 ? '' : 's'}: tick those to take.`;
    boxes[0].focus();
    take.addEventListener('click', async () => {
      const ticked = texts.filter((_, i) => boxes[i].checked), files = [], refused = [];
      if (!ticked.length) return outcome(out, [make('p', {className: 'error', textContent: 'No text is ticked. Tick the texts to take first.'})], 'Take', take);
      await using(async () => {
        for (const e of ticked) {
          status.textContent = `Taking ${e.folder}\\${e.name} off the calculator`;
          const g = await sorvel.receive(d, e, {model: model.value});
          if (g.status) refused.push(...paragraphs(Object.assign(g, {message: `${e.folder}\\${e.name}: ${g.message}`, hint: g.hint || g.words}), '', 'taken'));
          // The folder goes with the file: two texts of one name from two folders make two rows.
          else files.push(Object.assign(new File([g.bytes], g.fileName), {folder: e.folder}));
        }
      });
      out.replaceChildren(...refused);
      if (files.length) await add(files);
      else outcome(out, refused, 'Take', take);
    });
  });

  // Sends the rows ready, one after another, until one fails; then says which were stored, which
  // was refused and why, with its next step, and which were not tried.
  sendAll.addEventListener('click', async () => {
    const place = $('send-all-state'), d = await chosen(place, sendAll);
    if (!d) return;
    const ready = items.filter((i) => !i.variable && !i.result.status), stop = new AbortController(), stored = [];
    let k = 0, r = null;
    await using(async () => {
      for (; k < ready.length; ++k) {
        r = await sending(d, place, ready[k].result.bytes, ready[k].title, stop);
        stored.push(...(r.stored || []));
        if (r.status) break;
      }
    });
    const line = (className, textContent) => make('p', {className, textContent});
    const kids = stored.length ? [line('note', `Stored on the calculator: ${stored.join(', ')}.`)] : [];
    if (k < ready.length) {
      const rest = ready.slice(k + 1).map((i) => i.title);
      kids.push(...found(r, 'sent'), line('error', `Refused: ${ready[k].title}. ${sentence(r.message)}`),
                ...(r.hint ? [line('hint', r.hint)] : []), ...(r.lines.length ? [make('pre', {textContent: r.lines.join('\n')})] : []),
                line('note', rest.length ? `Not tried: ${rest.join(', ')}. Press Send again once the refusal is dealt with.` : 'No other text was left to try.'));
    } else {
      kids.push(...found(r, 'sent'));
    }
    outcome(place, kids, 'Send all', sendAll);
  });

  // How a row's text may be read: UTF-16 only for a text that opens with its byte order mark; a
  // variable file's texts written as UTF-8 or as the calculator's own bytes (-x without -u).
  const READINGS = {utf8: 'UTF-8', windows1252: 'Windows-1252', utf16: 'UTF-16', calculator: "the calculator's own bytes"};
  const readings = (item) => (item.variable ? ['utf8', 'calculator']
    : ['utf8', 'windows1252', ...((item.bytes[0] ^ item.bytes[1]) == 1 && item.bytes[0] >= 0xFE ? ['utf16'] : []), 'calculator']);

  // Converts a text file's row again, its elements kept (a focused name field stays focused).
  const textRow = (item) => {
    if (!item.edited) ({name: item.name.value, passedOver: item.passedOver} = sorvel.proposeName(item.file.name, item.encoding != 'calculator'));
    const name = item.name.value, refused = pageRefusal(name);
    const r = (item.result = refused ? Object.assign({status: 6, message: '', line: 0, used: 0, parts: [], fileName: '', name: ''}, refused)
                                     : sorvel.convert(item.bytes, Object.assign(options(), {file: item.file.name, name, encoding: item.encoding || 'auto'})));
    if (r.encoding) item.reading.value = r.encoding;
    item.name.setAttribute('aria-invalid', r.status != 0 && r.fileName == '');
    // The name as stored, which the file is named after: a typed one cut to 8 characters.
    const stored = r.name || name, problem = !refused && sorvel.nameProblem(stored);
    item.warn.textContent = refused ? '' : problem ? `The calculator does not take the name ${stored}: it ${problem}. Type another variable name.`
      : stored != name ? `The variable is named ${stored}, as a name holds at most 8 characters. Type a shorter name if you prefer.`
      : !item.edited && item.passedOver ? `${item.passedOver} is a name the calculator keeps for itself, so this text is named ${stored}. Type another name if you prefer.` : '';
    item.warn.hidden = !item.warn.textContent;
    const parts = r.parts.length || 1;
    item.meter.max = parts * sorvel.maxData;
    item.meter.value = r.used;
    item.used.textContent = `${r.used.toLocaleString('en')} of ${(parts * sorvel.maxData).toLocaleString('en')} bytes`;
    forget(item.li);
    item.link.replaceWith((item.link = r.status ? make('a') : link(r.fileName, r.bytes)));
    item.link.hidden = r.status != 0;
    item.send.hidden = r.status != 0;
    item.meterLabel.hidden = r.status != 0 && !r.used;
    item.parts.textContent = r.parts.length ? `${r.parts.length} variables: ${r.parts.join(', ')}` : '';
    item.parts.hidden = !r.parts.length;
    item.error.textContent = r.words;
    item.error.className = r.status ? 'error' : 'note';
    item.error.hidden = !r.words;
    item.line.replaceChildren(...(r.line ? refusedLine(item, r) : []));
  };

  const variableRows = (item) => {
    const r = (item.result = sorvel.extract(item.bytes, {file: item.file.name, utf8: item.reading.value == 'utf8'}));
    const kids = r.status ? [make('p', {className: 'error', textContent: r.words})]
                          : [make('ul', {}, ...r.texts.map((t) => make('li', {}, `Text variable ${t.name}: `, link(t.fileName, t.bytes),
                                                                      ` (${t.bytes.length.toLocaleString('en')} bytes)`)))];
    if (item.file.folder) kids.push(make('p', {}, 'Taken off the calculator; its variable file: ', link(item.file.name, item.bytes)));
    return [item.head, make('div', {className: 'fields'}, item.readingLabel), ...kids];
  };

  const update = (item) => {
    if (!item.variable) return textRow(item);
    const focused = item.li.contains(document.activeElement) && document.activeElement;
    forget(item.li);
    item.li.replaceChildren(...variableRows(item));
    if (focused && focused.isConnected) focused.focus();
  };

  // The rows named.
  const names = (list) => list.map((i) => i.title).join(', ');
  // Makes the group file of the converted texts and says what it holds, a name that two rows give
  // on both; returns the refused files.
  const summarize = () => {
    const texts = items.filter((i) => !i.variable), done = texts.filter((i) => !i.result.status);
    group = sorvel.group(done.map((i) => ({file: i.title, bytes: i.result.bytes})), options());
    const varNames = (i) => (i.result.parts.length ? i.result.parts : [i.result.name]);
    for (const i of texts) {
      const others = done.includes(i) ? done.filter((o) => o != i && varNames(o).some((n) => varNames(i).includes(n))) : [];
      const shared = others.length && varNames(i).find((n) => varNames(others[0]).includes(n));
      i.dup.textContent = others.length ? `${names(others)} also give${others.length == 1 ? 's' : ''} the variable name ${shared}, ` +
        'so one would replace the other on the calculator. Type another variable name here or there.' : '';
      i.dup.hidden = !others.length;
    }
    const n = `${done.length} of ${texts.length} text${texts.length == 1 ? '' : 's'}`;
    all.disabled = group.status != 0;
    all.textContent = done.length ? `Download ${n} as one group file (${group.fileName})` : 'Download all texts as one group file';
    sendAll.textContent = done.length ? `Send ${n} to the calculator` : 'Send all to the calculator';
    const out = texts.filter((i) => i.result.status);
    $('all-note').textContent = out.length && done.length ? `Left out, as refused: ${names(out)}. Their rows say what to do.` : '';
    $('all-error').textContent = done.length ? group.words : '';
    $('all-error').className = group.status ? 'error' : 'note';
    clear.disabled = !items.length;
    refresh();
    return items.filter((i) => i.result.status);
  };
  // Announces `what` was done, and what every row now holds.
  const announce = (what) => {
    const refused = summarize();
    status.textContent = `${what}: ${items.length - refused.length} ready` + (refused.length ? `, ${refused.length} refused (${names(refused)}).` : '.');
  };

  // The bytes of `file` that the settings and its reading need: no more than the program reads.
  const read = async (item) => {
    const most = item.variable ? sorvel.variableFileBytes : sorvel.textBytes(Object.assign(options(), {utf8: item.encoding != 'calculator'}));
    if (item.bytes && (item.bytes.length >= most || item.bytes.length == item.file.size)) return;
    item.bytes = new Uint8Array(await item.file.slice(0, most).arrayBuffer());
  };

  const remove = (item) => {
    forget(item.li);
    item.li.remove();
    items.splice(items.indexOf(item), 1);
  };

  // Adds a row for each of the files `chosen`; one taken off the calculator has its folder.
  const add = async (chosen) => {
    const files = Array.from(chosen);
    if (!files.length) return;
    status.textContent = 'Reading...';
    const replaced = [];
    let first = null;
    for (const file of files) {
      const opening = new Uint8Array(await file.slice(0, 8).arrayBuffer()), title = file.folder ? `${file.folder}\\${file.name}` : file.name;
      const item = {file, title, li: make('li'), variable: sorvel.isVariableFile(opening), encoding: null, edited: false};
      await read(item);
      const id = `row-${++made}`;
      const remover = make('button', {type: 'button', textContent: 'Remove', ariaLabel: `Remove ${title}`});
      remover.addEventListener('click', () => {
        const next = items[items.indexOf(item) + 1];
        remove(item);
        (next ? next.li.querySelector('button') : $('zone')).focus();
        announce(`${title} removed`);
      });
      item.head = make('div', {className: 'head'}, make('h2', {textContent: title, id}), remover);
      item.reading = make('select', {}, ...readings(item).map((value) => make('option', {value, textContent: READINGS[value]})));
      item.reading.setAttribute('aria-label', `Read ${title} as`);
      item.reading.addEventListener('change', async () => {
        item.encoding = item.reading.value;
        await read(item);
        update(item);
        announce(`${title}: read as ${READINGS[item.encoding]}`);
      });
      item.readingLabel = make('label', {}, 'Read as ', item.reading);
      if (!item.variable) {
        item.name = make('input', {type: 'text', spellcheck: false, autocomplete: 'off'});
        item.name.addEventListener('input', () => {
          item.edited = true;
          update(item);
          summarize();
        });
        item.name.addEventListener('change', () => announce(`${title}: variable name ${item.name.value}`));
        item.nameLabel = make('label', {}, 'Variable name ', item.name);
        item.name.setAttribute('aria-label', `Variable name for ${title}`);
        item.warn = make('p', {className: 'warn', id: `${id}-warn`});
        item.dup = make('p', {className: 'warn', id: `${id}-dup`});
        item.meter = make('meter', {min: 0, max: sorvel.maxData});
        item.used = make('span');
        item.meterLabel = make('label', {}, 'Bytes used ', item.meter, ' ', item.used);
        item.link = make('a');
        item.send = make('button', {type: 'button', textContent: 'Send to calculator', ariaLabel: `Send to calculator: ${title}`});
        item.send.setAttribute('aria-describedby', 'usb-note');
        item.linkState = make('div', {className: 'link-state'});
        item.send.addEventListener('click', () => sendTo(item.linkState, item.result.bytes, title, item.send));
        item.parts = make('p', {className: 'parts'});
        item.error = make('p', {className: 'error', id: `${id}-error`});
        item.name.setAttribute('aria-describedby', `${id}-warn ${id}-dup ${id}-error`);
        item.line = make('div');
        item.li.append(item.head, make('div', {className: 'fields'}, item.readingLabel, item.nameLabel, item.meterLabel, item.link, item.send),
                       item.warn, item.dup, item.linkState, item.parts, item.error, item.line);
      }
      update(item);
      const old = items.find((i) => i.title == title);
      if (old) {
        replaced.push(title);
        old.li.replaceWith(item.li);
        forget(old.li);
        items[items.indexOf(old)] = item;
      } else {
        rows.append(item.li);
        items.push(item);
      }
      first ||= item.li;
    }
    first.scrollIntoView({block: 'nearest'});
    announce(`${files.length} file${files.length == 1 ? '' : 's'} read` + (replaced.length ? `, replacing the rows of ${replaced.join(', ')}` : ''));
  };

  const again = async (what) => {
    save();
    status.textContent = 'Reading...';
    for (const item of items) await read(item);
    items.forEach(update);
    announce(what);
  };
  $('zone').addEventListener('click', () => input.click());
  input.addEventListener('change', () => add(input.files).then(() => (input.value = '')));
  model.addEventListener('change', () => {
    coupled();
    again(`Every row made for the ${model.selectedOptions[0].text}`);
  });
  replace.addEventListener('change', () => again(`Every row made again ${replace.checked ? 'with' : 'without'} replacements`));
  split.addEventListener('change', () => again(`Every row made again ${split.checked ? 'splitting' : 'without splitting'} long texts`));
  archive.addEventListener('change', () => again(`Every row made again ${archive.checked ? 'for' : 'without'} the archive`));
  folder.addEventListener('change', () => again(`Every row made again in folder ${folder.value || 'main'}`));
  clear.addEventListener('click', () => {
    while (items.length) remove(items[0]);
    $('send-all-state').replaceChildren();
    $('zone').focus();
    announce('Every row cleared');
  });
  all.addEventListener('click', () => {
    const a = link(group.fileName, group.bytes);
    a.click();
    setTimeout(() => URL.revokeObjectURL(a.href), 30000);
  });
  addEventListener('dragover', (e) => {
    e.preventDefault();
    document.body.classList.add('dragging');
  });
  addEventListener('dragleave', (e) => e.relatedTarget || document.body.classList.remove('dragging'));
  addEventListener('drop', (e) => {
    e.preventDefault();
    document.body.classList.remove('dragging');
    add(e.dataTransfer.files);
  });
  const touch = matchMedia('(pointer: coarse)').matches;
  document.body.classList.toggle('touch', touch);
  refresh();
  status.textContent = `Ready: choose text or variable files${touch ? '' : ', or drop them on this page'}.`;
  sorvel.readyAt = performance.now();
})();
