// The page: a row for each file chosen or dropped, converted or extracted through `sorvel` as
// the settings say, and done again whenever a setting or a row's variable name changes.
(() => {
  const $ = (id) => document.getElementById(id);
  const input = $('files'), model = $('model'), utf8 = $('utf8'), replace = $('replace'), rows = $('rows'), all = $('all'),
        status = $('status');
  const items = [];  // {file, bytes, li, variable (a variable file), edited (its name typed), result}
  let group = null;

  // A new element with properties `props` and children `kids`.
  const make = (tag, props = {}, ...kids) => {
    const e = Object.assign(document.createElement(tag), props);
    e.append(...kids);
    return e;
  };
  const link = (fileName, bytes) => make('a', {download: fileName, href: URL.createObjectURL(new Blob([bytes])), textContent: fileName});
  const forget = (li) => li.querySelectorAll('a[href]').forEach((a) => URL.revokeObjectURL(a.href));

  // The line that refusal `r` of `bytes` points at, its character marked: lines end at CR LF, LF or
  // a lone CR, and columns count code points, a byte order mark at the start not counted.
  const refusedLine = (bytes, r) => {
    let start = bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF ? 3 : 0;
    for (let i = start, line = 1; line < r.line && i < bytes.length; ++i)
      if (bytes[i] == 10 || bytes[i] == 13) {
        i += bytes[i] == 13 && bytes[i + 1] == 10;
        ++line;
        start = i + 1;
      }
    let end = start;
    while (end < bytes.length && bytes[end] != 10 && bytes[end] != 13) ++end;
    const chars = Array.from(new TextDecoder('utf-8', {ignoreBOM: true}).decode(bytes.subarray(start, end)));
    const at = r.column - 1, from = Math.max(0, at - 40);
    return make('pre', {}, (from ? '…' : '') + chars.slice(from, at).join(''), make('mark', {textContent: chars[at] || ' '}),
                chars.slice(at + 1, at + 41).join('') + (chars.length > at + 41 ? '…' : ''));
  };

  // Converts a text file's row again, its elements kept (a focused name field stays focused).
  const textRow = (item) => {
    const r = (item.result = sorvel.convert(item.bytes, {file: item.file.name, name: item.edited ? item.name.value : undefined,
                                                         model: model.value, utf8: utf8.checked, replace: replace.checked}));
    if (!item.edited) item.name.value = r.fileName ? r.fileName.slice(0, -4) : item.file.name.split('.')[0];
    item.name.setAttribute('aria-invalid', r.message.startsWith('ERROR: variable name'));
    item.meter.value = r.used;
    item.used.textContent = `${r.used.toLocaleString('en')} of 65,512 bytes`;
    forget(item.li);
    item.link.replaceWith((item.link = r.status ? make('a') : link(r.fileName, r.bytes)));
    item.meterLabel.hidden = item.link.hidden = r.status != 0;
    item.error.textContent = r.message;
    item.error.className = r.status ? 'error' : 'note';
    item.error.hidden = !r.message;
    item.line.replaceChildren(...(r.line ? [refusedLine(item.bytes, r)] : []));
  };

  const variableRows = (item) => {
    const r = (item.result = sorvel.extract(item.bytes, {file: item.file.name, utf8: utf8.checked}));
    if (r.status) return [make('h2', {textContent: item.file.name}), make('p', {className: 'error', textContent: r.message})];
    return [make('h2', {textContent: item.file.name}),
            make('ul', {}, ...r.texts.map((t) => make('li', {}, `Text variable ${t.name}: `, link(t.fileName, t.bytes),
                                                       ` (${t.bytes.length.toLocaleString('en')} bytes)`)))];
  };

  const update = (item) => {
    if (!item.variable) return textRow(item);
    forget(item.li);
    item.li.replaceChildren(...variableRows(item));
  };

  // Tells what every row now holds and makes the group file of the converted ones.
  const summarize = (what) => {
    const done = items.filter((i) => !i.result.status), texts = done.filter((i) => !i.variable);
    group = sorvel.group(texts.map((i) => ({file: i.file.name, bytes: i.result.bytes})), {model: model.value, utf8: utf8.checked});
    all.disabled = group.status != 0;
    all.textContent = `Download all as one group file${group.fileName ? ` (${group.fileName})` : ''}`;
    $('all-error').textContent = texts.length ? group.message : '';
    const refused = items.length - done.length;
    status.textContent = `${what}: ${done.length} ready` + (refused ? `, ${refused} refused.` : '.');
  };

  const add = async (chosen) => {
    const files = Array.from(chosen);
    for (const file of files) {
      const bytes = new Uint8Array(await file.arrayBuffer());
      const item = {file, bytes, li: make('li'), variable: sorvel.isVariableFile(bytes), edited: false};
      if (!item.variable) {
        item.name = make('input', {type: 'text', spellcheck: false, autocomplete: 'off'});
        item.name.addEventListener('input', () => {
          item.edited = true;
          update(item);
          summarize(`${item.file.name}: variable name ${item.name.value}`);
        });
        item.nameLabel = make('label', {}, 'Variable name ', item.name);
        item.meter = make('meter', {min: 0, max: 65512});
        item.used = make('span');
        item.meterLabel = make('label', {}, 'Bytes used ', item.meter, ' ', item.used);
        item.link = make('a');
        item.error = make('p', {className: 'error', id: `error-${items.length}`});
        item.name.setAttribute('aria-describedby', item.error.id);
        item.line = make('div');
        item.li.append(make('h2', {textContent: file.name}), make('div', {className: 'fields'}, item.nameLabel, item.meterLabel, item.link),
                       item.error, item.line);
      }
      items.push(item);
      update(item);
      rows.append(item.li);
    }
    summarize(`${files.length} file${files.length == 1 ? '' : 's'} read`);
  };

  const again = (what) => {
    items.forEach(update);
    summarize(what);
  };
  $('zone').addEventListener('click', () => input.click());
  input.addEventListener('change', () => add(input.files).then(() => (input.value = '')));
  model.addEventListener('change', () => again(`Every row made for the ${model.selectedOptions[0].text}`));
  utf8.addEventListener('change', () => {
    replace.disabled = !utf8.checked;
    replace.checked &&= utf8.checked;
    again(`Every row made again ${utf8.checked ? 'in UTF-8' : 'with the bytes as they are'}`);
  });
  replace.addEventListener('change', () => again(`Every row made again ${replace.checked ? 'with' : 'without'} replacements`));
  all.addEventListener('click', () => link(group.fileName, group.bytes).click());
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
  status.textContent = 'Ready: choose text or variable files, or drop them on this page.';
  sorvel.readyAt = performance.now();
})();
