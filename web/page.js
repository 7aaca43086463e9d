// The page: a row for each file chosen or dropped, converted or extracted through `sorvel` as
// the settings say, and done again whenever a setting or a row's variable name changes.
(() => {
  const $ = (id) => document.getElementById(id);
  const input = $('files'), model = $('model'), utf8 = $('utf8'), replace = $('replace'), split = $('split'),
        archive = $('archive'), folder = $('folder'), rows = $('rows'), all = $('all'), clear = $('clear'),
        status = $('status'), sendAll = $('send-all'), from = $('from'), calcList = $('calc-list');
  const items = [];  // {file, bytes, li, variable (a variable file), edited (its name typed), result}
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
  // What transfer `r` ended with: the model the calculator said it is when it is not the one
  // asked for (the transfer `done` as one), then `note`, or the failure with its next step and
  // the lines to copy for it.
  const found = (r, done) => (r.found ? [make('p', {className: 'note', textContent: `Found a ${r.found}; ${done} as one.`})] : []);
  const paragraphs = (r, note, done) => [...found(r, done), ...(r.status
    ? [make('p', {className: 'error', textContent: r.message}), ...(r.hint ? [make('p', {className: 'hint', textContent: r.hint})] : []),
       ...(r.lines.length ? [make('pre', {textContent: r.lines.join('\n')})] : [])]
    : [make('p', {className: 'note', textContent: note})])];

  // A new element with properties `props` and children `kids`.
  const make = (tag, props = {}, ...kids) => {
    const e = Object.assign(document.createElement(tag), props);
    e.append(...kids);
    return e;
  };
  const link = (fileName, bytes) => make('a', {download: fileName, href: URL.createObjectURL(new Blob([bytes])), textContent: fileName});
  const forget = (li) => li.querySelectorAll('a[href]').forEach((a) => URL.revokeObjectURL(a.href));
  const options = () => ({model: model.value, utf8: utf8.checked, replace: replace.checked, split: split.checked,
                          archive: archive.checked, folder: folder.value || undefined});

  // The calculators, from the core's table of models: one that takes another's files is named
  // beside it (TI-89 / TI-89 Titanium).
  for (const m of sorvel.models.filter((m) => m.option))
    model.append(make('option', {value: m.option, textContent: sorvel.models.filter((o) => o.extension == m.extension)
                                                                    .map((o) => o.name).join(' / ')}));

  // The settings, kept in this browser for the next visit.
  const boxes = {utf8, replace, split, archive};
  const save = () => {
    try {
      localStorage.setItem('sorvel', JSON.stringify({model: model.value, folder: folder.value,
        ...Object.fromEntries(Object.entries(boxes).map(([k, b]) => [k, b.checked]))}));
    } catch (e) { /* storage refused: the settings last for this visit */ }
  };
  try {
    const kept = JSON.parse(localStorage.getItem('sorvel') || '{}');
    if ([...model.options].some((o) => o.value == kept.model)) model.value = kept.model;
    if (typeof kept.folder == 'string') folder.value = kept.folder;
    for (const [k, b] of Object.entries(boxes)) if (typeof kept[k] == 'boolean') b.checked = kept[k];
  } catch (e) { /* nothing kept */ }
  const coupled = () => {
    replace.disabled = !utf8.checked;
    replace.checked &&= !replace.disabled;
  };
  coupled();

  // The line that refusal `r` of `bytes` points at, its character marked: lines end at CR LF, LF or
  // a lone CR, and columns count code points, a byte order mark at the start not counted. Only
  // the bytes around the character are decoded.
  const refusedLine = (bytes, r) => {
    let start = bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF ? 3 : 0;
    for (let i = start, line = 1; line < r.line && i < bytes.length; ++i)
      if (bytes[i] == 10 || bytes[i] == 13) {
        i += bytes[i] == 13 && bytes[i + 1] == 10;
        ++line;
        start = i + 1;
      }
    let end = start;
    const most = start + 4 * (r.column + 41);
    while (end < bytes.length && end < most && bytes[end] != 10 && bytes[end] != 13) ++end;
    const chars = Array.from(new TextDecoder('utf-8', {ignoreBOM: true}).decode(bytes.subarray(start, end)));
    const at = r.column - 1, from = Math.max(0, at - 40);
    return make('pre', {}, (from ? '…' : '') + chars.slice(from, at).join(''), make('mark', {textContent: chars[at] || ' '}),
                chars.slice(at + 1, at + 41).join('') + (chars.length > at + 41 || end == most ? '…' : ''));
  };

  // Why the page refuses variable name `name` though the program would take it: a download would
  // be saved under another name, or none. Null when it does not.
  const pageRefusal = (name, file) => {
    if (name == '') return {message: `ERROR: ${file}: no variable name`, hint: 'Type a variable name'};
    if (/[/\\]|^\.|\.\./.test(name))
      return {message: `ERROR: variable name ${name}: a browser would save it under another file name`,
              hint: 'Type a name without / or \\ that does not begin with a dot'};
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

  // Sends variable file `bytes`, called `what`, to the calculator: its progress (announced at each
  // quarter), a Cancel and the outcome go in `place`; the focus goes back to `button`.
  const sendTo = async (place, bytes, what, button) => {
    let d;
    try {
      d = await chosenDevice();
    } catch (e) {
      place.replaceChildren(make('p', {className: 'error', textContent: 'No cable or calculator chosen. Choose one when the browser asks.'}));
      return;
    }
    const bar = make('progress', {max: 1, value: 0}), cancel = make('button', {type: 'button', textContent: 'Cancel'});
    const stop = new AbortController();
    cancel.setAttribute('aria-label', `Cancel sending ${what}`);
    cancel.addEventListener('click', () => stop.abort());
    place.replaceChildren(make('div', {className: 'fields'}, make('label', {}, 'Sending ', bar), cancel));
    cancel.focus();
    status.textContent = `Sending ${what} to the calculator`;
    let quarter = 0;
    const r = await using(() => sorvel.send(d, bytes, {model: model.value, signal: stop.signal, onProgress: (done, total) => {
      bar.max = total || 1;
      bar.value = done;
      const q = total ? Math.floor(4 * done / total) : 0;
      if (q > quarter && q < 4) status.textContent = `Sending ${what}: ${(quarter = q) * 25}%`;
    }}));
    const kids = paragraphs(r, `Sent to the calculator as ${r.names}.`, 'sent');
    place.replaceChildren(...kids);
    status.textContent = `${what}: ${kids.map((k) => k.textContent).join(' ')}`;
    if (document.activeElement == document.body || !document.activeElement) button.focus();
  };

  // Lists the calculator's texts, to be ticked and taken off it as rows of their own.
  from.addEventListener('click', async () => {
    let d;
    try {
      d = await chosenDevice();
    } catch (e) {
      calcList.replaceChildren(make('p', {className: 'error', textContent: 'No cable or calculator chosen. Choose one when the browser asks.'}));
      return;
    }
    status.textContent = "Listing the calculator's texts";
    const r = await using(() => sorvel.list(d, {model: model.value}));
    // Texts as the calculator lists them: made on it (0x0B) or sent to it (0x0C).
    const texts = r.entries.filter((e) => e.type == 0x0B || e.type == 0x0C);
    if (r.status || !texts.length) {
      calcList.replaceChildren(...paragraphs(r, 'The calculator holds no text.', 'listed'));
      status.textContent = calcList.textContent;
      return;
    }
    const boxes = texts.map(() => make('input', {type: 'checkbox'}));
    const take = make('button', {type: 'button', textContent: 'Take the ticked texts off the calculator'}), out = make('div');
    calcList.replaceChildren(...found(r, 'listed'), make('fieldset', {}, make('legend', {textContent: `The calculator's texts (${texts.length})`}),
      ...texts.map((e, i) => make('label', {}, boxes[i], ` ${e.folder}\\${e.name} (${e.size.toLocaleString('en')} bytes)`))), take, out);
    status.textContent = `The calculator holds ${texts.length} text${texts.length == 1 ? '' : 's'}: tick those to take.`;
    boxes[0].focus();
    take.addEventListener('click', async () => {
      const chosen = texts.filter((_, i) => boxes[i].checked), files = [], refused = [];
      if (!chosen.length) return out.replaceChildren(make('p', {className: 'error', textContent: 'Tick the texts to take first.'}));
      await using(async () => {
        for (const e of chosen) {
          status.textContent = `Taking ${e.folder}\\${e.name} off the calculator`;
          const g = await sorvel.receive(d, e, {model: model.value, utf8: utf8.checked});
          if (g.status) refused.push(...paragraphs({...g, message: `${e.folder}\\${e.name}: ${g.message}`}, '', 'taken'));
          else files.push(new File([g.bytes], g.fileName));
        }
      });
      out.replaceChildren(...refused);
      if (files.length) await add(files, true);
      else status.textContent = out.textContent;
    });
  });
  sendAll.addEventListener('click', () => sendTo($('send-all-state'), group.bytes, group.fileName, sendAll));

  // Converts a text file's row again, its elements kept (a focused name field stays focused).
  const textRow = (item) => {
    if (!item.edited) item.name.value = sorvel.proposeName(item.file.name, utf8.checked);
    const name = item.name.value, refused = pageRefusal(name, item.file.name);
    const r = (item.result = refused ? {status: 6, ...refused, line: 0, used: 0, parts: [], fileName: ''}
                                     : sorvel.convert(item.bytes, {file: item.file.name, name, ...options()}));
    item.name.setAttribute('aria-invalid', r.status != 0 && r.fileName == '');
    const problem = !refused && sorvel.nameProblem(name);
    item.warn.textContent = problem ? `The calculator does not take this name: it ${problem}.` : '';
    item.warn.hidden = !problem;
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
    item.error.textContent = r.message;
    item.error.className = r.status ? 'error' : 'note';
    item.error.hidden = !r.message;
    item.hint.textContent = r.status ? r.hint : '';
    item.hint.hidden = !item.hint.textContent;
    item.line.replaceChildren(...(r.line ? [refusedLine(item.bytes, r)] : []));
  };

  const variableRows = (item) => {
    const r = (item.result = sorvel.extract(item.bytes, {file: item.file.name, utf8: utf8.checked}));
    const kids = r.status ? [make('p', {className: 'error', textContent: r.message})]
                          : [make('ul', {}, ...r.texts.map((t) => make('li', {}, `Text variable ${t.name}: `, link(t.fileName, t.bytes),
                                                                      ` (${t.bytes.length.toLocaleString('en')} bytes)`)))];
    if (item.fromCalc) kids.push(make('p', {}, 'Taken off the calculator; its variable file: ', link(item.file.name, item.bytes)));
    return [item.head, ...kids];
  };

  const update = (item) => {
    if (!item.variable) return textRow(item);
    forget(item.li);
    item.li.replaceChildren(...variableRows(item));
  };

  // The texts left out of the group file, named.
  const names = (list) => list.map((i) => i.file.name).join(', ');
  // Makes the group file of the converted texts and says what it holds; returns the refused files.
  const summarize = () => {
    const texts = items.filter((i) => !i.variable), done = texts.filter((i) => !i.result.status);
    group = sorvel.group(done.map((i) => ({file: i.file.name, bytes: i.result.bytes})), options());
    all.disabled = group.status != 0;
    all.textContent = done.length ? `Download ${done.length} of ${texts.length} text${texts.length == 1 ? '' : 's'} as one group file (${group.fileName})`
                                  : 'Download all texts as one group file';
    const out = texts.filter((i) => i.result.status);
    $('all-note').textContent = out.length && done.length ? `Left out, as refused: ${names(out)}.` : '';
    $('all-error').textContent = done.length ? group.message : '';
    clear.disabled = !items.length;
    refresh();
    return items.filter((i) => i.result.status);
  };
  // Announces `what` was done, and what every row now holds.
  const announce = (what) => {
    const refused = summarize();
    status.textContent = `${what}: ${items.length - refused.length} ready` + (refused.length ? `, ${refused.length} refused (${names(refused)}).` : '.');
  };

  // The bytes of `file` that the settings need: no more than the program reads.
  const read = async (item) => {
    const most = item.variable ? sorvel.variableFileBytes : sorvel.textBytes(options());
    if (item.bytes && (item.bytes.length >= most || item.bytes.length == item.file.size)) return;
    item.bytes = new Uint8Array(await item.file.slice(0, most).arrayBuffer());
  };

  const remove = (item) => {
    forget(item.li);
    item.li.remove();
    items.splice(items.indexOf(item), 1);
  };

  const add = async (chosen, fromCalc = false) => {
    const files = Array.from(chosen);
    if (!files.length) return;
    status.textContent = 'Reading...';
    const replaced = [];
    let first = null;
    for (const file of files) {
      const opening = new Uint8Array(await file.slice(0, 8).arrayBuffer());
      const item = {file, li: make('li'), variable: sorvel.isVariableFile(opening), edited: false, fromCalc};
      await read(item);
      const id = `row-${++made}`;
      const remover = make('button', {type: 'button', textContent: 'Remove', ariaLabel: `Remove ${file.name}`});
      remover.addEventListener('click', () => {
        const next = items[items.indexOf(item) + 1];
        remove(item);
        (next ? next.li.querySelector('button') : $('zone')).focus();
        announce(`${file.name} removed`);
      });
      item.head = make('div', {className: 'head'}, make('h2', {textContent: file.name, id}), remover);
      if (!item.variable) {
        item.name = make('input', {type: 'text', spellcheck: false, autocomplete: 'off'});
        item.name.addEventListener('input', () => {
          item.edited = true;
          update(item);
          summarize();
        });
        item.name.addEventListener('change', () => announce(`${file.name}: variable name ${item.name.value}`));
        item.nameLabel = make('label', {}, 'Variable name ', item.name);
        item.name.setAttribute('aria-label', `Variable name for ${file.name}`);
        item.warn = make('span', {className: 'warn', id: `${id}-warn`});
        item.meter = make('meter', {min: 0, max: sorvel.maxData});
        item.used = make('span');
        item.meterLabel = make('label', {}, 'Bytes used ', item.meter, ' ', item.used);
        item.link = make('a');
        item.send = make('button', {type: 'button', textContent: 'Send to calculator', ariaLabel: `Send to calculator: ${file.name}`});
        item.send.setAttribute('aria-describedby', 'usb-note');
        item.linkState = make('div', {className: 'link-state'});
        item.send.addEventListener('click', () => sendTo(item.linkState, item.result.bytes, file.name, item.send));
        item.parts = make('p', {className: 'parts'});
        item.error = make('p', {className: 'error', id: `${id}-error`});
        item.hint = make('p', {className: 'hint', id: `${id}-hint`});
        item.name.setAttribute('aria-describedby', `${id}-warn ${id}-error ${id}-hint`);
        item.line = make('div');
        item.li.append(item.head, make('div', {className: 'fields'}, item.nameLabel, item.warn, item.meterLabel, item.link, item.send),
                       item.linkState, item.parts, item.error, item.hint, item.line);
      }
      update(item);
      const old = items.find((i) => i.file.name == file.name);
      if (old) {
        replaced.push(file.name);
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
  model.addEventListener('change', () => again(`Every row made for the ${model.selectedOptions[0].text}`));
  utf8.addEventListener('change', () => {
    coupled();
    again(`Every row made again ${utf8.checked ? 'in UTF-8' : 'with the bytes as they are'}`);
  });
  replace.addEventListener('change', () => {
    coupled();
    again(`Every row made again ${replace.checked ? 'with' : 'without'} replacements`);
  });
  split.addEventListener('change', () => {
    coupled();
    again(`Every row made again ${split.checked ? 'splitting' : 'without splitting'} long texts`);
  });
  archive.addEventListener('change', () => again(`Every row made again ${archive.checked ? 'for' : 'without'} the archive`));
  folder.addEventListener('change', () => again(`Every row made again in folder ${folder.value || 'main'}`));
  clear.addEventListener('click', () => {
    while (items.length) remove(items[0]);
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
