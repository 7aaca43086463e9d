// For the browser test and the benchmark, put in the page before its script with the simulated
// calculator's module (SorvelSim): navigator.usb whose one device (granted once, for the session)
// is a fake USBDevice over the simulated calculator, which calc({usb, model, refusal, silent,
// goneAfter, busy, vars}) sets anew, and stored() reads; simMs counts the time spent in the
// calculator itself. No navigator.usb at all with #nousb.
(() => {
  if (location.hash == '#nousb') return Object.defineProperty(Navigator.prototype, 'usb', {get: () => undefined});
  let s = null, o = {}, waiting = null, gone = false;
  s = SorvelSim();  // ready at once: compiled as the script runs
  const put = (b) => { const at = s._malloc(b.length + 1); s.HEAPU8.set(b, at); s.HEAPU8[at + b.length] = 0; return at; };
  const str = (t) => put(Uint8Array.from(t, (c) => c.charCodeAt(0)));  // names as the calculator's bytes
  const deliver = () => {
    if (!waiting || !(gone || s._sim_pending())) return;
    const w = waiting, at = s._malloc(w.n), n = s._sim_read(at, w.n), data = s.HEAPU8.slice(at, at + n);
    waiting = null;
    s._free(at);
    gone ? w.reject(new DOMException('The device was disconnected.', 'NotFoundError')) : w.resolve({status: 'ok', data: new DataView(data.buffer)});
  };
  const endpoint = (n, direction) => ({endpointNumber: n, direction, type: 'bulk', packetSize: 64});
  const device = {vendorId: 0x0451, productId: 0xE001, configuration: null,
    open: async () => {},
    selectConfiguration: async (v) => (device.configuration = {configurationValue: v, interfaces: [{interfaceNumber: 0,
      alternates: [{endpoints: [endpoint(1, 'in'), endpoint(2, 'out')]}]}]}),
    claimInterface: async () => { if (o.busy) throw new DOMException('Unable to claim interface.', 'NetworkError'); },
    transferOut: async (n, data) => {
      const start = performance.now(), at = put(data);
      gone ||= !s._sim_take(at, data.length);
      s._free(at);
      deliver();
      window.simMs += performance.now() - start;
      if (gone) throw new DOMException('The device was disconnected.', 'NotFoundError');
      return {status: 'ok', bytesWritten: data.length};
    },
    transferIn: (n, length) => new Promise((resolve, reject) => {
      const start = performance.now();
      waiting = {n: length, resolve, reject};
      deliver();
      window.simMs += performance.now() - start;
    }),
    releaseInterface: async () => {},
    close: async () => { if (waiting) waiting.reject(new DOMException('closed', 'AbortError')), waiting = null; },
  };
  window.simMs = 0;
  window.fakeDevice = device;
  window.calc = (set) => {
    o = set, gone = false, waiting = null, device.productId = o.usb ? 0xE004 : 0xE001;
    s._sim_new(o.model ?? +!!o.usb, !!o.usb, o.refusal || 0, !!o.silent, o.goneAfter ?? -1);
    for (const v of o.vars || []) s._sim_add(str(v.folder), str(v.name), 0x0C, v.attribute || 0, put(v.stored), v.stored.length);
  };
  const cstr = (at) => String.fromCharCode(...s.HEAPU8.subarray(at, s.HEAPU8.indexOf(0, at)));
  window.stored = () => Array.from({length: s._sim_count()}, (_, i) => [cstr(s._sim_folder(i)) + '\\' + cstr(s._sim_name(i)), Array.from(s.HEAPU8.subarray(s._sim_stored(i), s._sim_stored(i) + s._sim_stored_size(i)))]);
  Object.defineProperty(Navigator.prototype, 'usb', {get: () => ({
    getDevices: async () => (sessionStorage.granted ? [device] : []),
    requestDevice: async (o) => { sessionStorage.asked = (+sessionStorage.asked || 0) + 1; sessionStorage.filters = JSON.stringify(o.filters); sessionStorage.granted = 1; return device; },
    addEventListener: () => {}})});
})();