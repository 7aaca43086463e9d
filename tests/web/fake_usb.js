// For the browser test and the benchmark, put in the page before its script with the simulated
// calculator's module (SorvelSim): navigator.usb whose one device (granted once, for the session)
// is a fake USBDevice in front of the simulated calculator, as strict and as slow as the hardware
// and as Chromium's WebUSB. calc(o) sets both anew, stored() reads what the calculator holds,
// simMs counts the time spent in the calculator itself, cableMs the time its bytes take on the
// cable at o.rate. No navigator.usb at all with #nousb.
// The calculator (tests/link/sim_calc.h): o.model (a row of the table of models, core/model.h),
// o.refusal, o.silent, o.goneAfter (bytes, then it is unplugged: every transfer fails
// NotFoundError), o.vars [{folder, name, type, attribute, stored}], o.sim {option: value} for
// sim_option.
// The device and the time:
//   o.usb        the TI-89 Titanium's own port (0451:E004), else the TI-GRAPH LINK USB cable
//                (0451:E001); their bulk endpoints 0x81 and 0x02 take packets of 64 and 32 bytes
//                (libticables2, link_usb1.cc and link_usb.cc's notes)
//   o.rate       bytes a second each way: a write resolves when its last byte is out, and the
//                calculator's answer comes in at that pace (the cable: about 5,000, libticables2's
//                figure in link_usb.cc); none: at once
//   o.answerMs   how long after a write ends the calculator starts answering
//   o.stopAfter  the calculator takes that many bytes, then no more: the write stays pending
//                until the device is closed (ESC on it, its plug pulled; libticables2 gives such a
//                write up, ERR_WRITE_TIMEOUT in link_usb1.cc's send_block)
//   o.stale      bytes waiting in the cable at open, an earlier transfer's late answer
//   o.halt       {in: n} or {out: n}: that endpoint halts on its n-th transfer and answers
//                'stall' until its halt is cleared, as a USB function reports an error (USB 2.0,
//                8.4.5; libticables2 clears both halts on open, tigl_reset); o.haltAgain: once more
//                on the transfer after the clear
//   o.babble     the n-th read ends 'babble': the device sent past the packet's end (USB 2.0, 8.4.5)
//   o.outOfStep  the endpoints' data toggles left out of step by an earlier session: each side
//                takes its first packet for a repeat and drops it, until that endpoint's halt is
//                cleared (CLEAR_FEATURE resets the toggle, USB 2.0 8.6.4 and 9.4.5)
//   o.unconfigured  no configuration set by the system: none until selectConfiguration
//   o.denied     open() refused, SecurityError (no udev rule on Linux, no WinUSB driver on Windows)
//   o.held       claimInterface() refused, NetworkError (another program holds the device)
//   o.platform   the system navigator.userAgentData names
//   o.speed      the page's clock (performance.now, setTimeout) runs that many times faster, so
//                that a slow cable's seconds pass quickly
// Whatever the options, the calculator's answers come in packets of the endpoint's size, the last
// one short, with no zero-length packet after a full one; a transferIn(length) completes on a
// short packet or when length is full, and ends 'babble' when a packet overflows it (USB 2.0,
// 5.8.3). selectConfiguration of the configuration the system already set sends nothing (Chromium's
// usb_device.cc), close() ends every pending transfer with AbortError, and the bytes still in the
// cable stay there for the next open.
(() => {
  if (location.hash == '#nousb') return Object.defineProperty(Navigator.prototype, 'usb', {get: () => undefined});
  const realNow = performance.now.bind(performance), realTimeout = window.setTimeout.bind(window);
  let speed = 1, since = 0, realSince = 0;
  const now = () => since + (realNow() - realSince) * speed;
  performance.now = now;
  window.setTimeout = (f, ms = 0, ...a) => realTimeout(f, ms / speed, ...a);

  const s = SorvelSim();  // ready at once: compiled as the script runs
  const put = (b) => { const at = s._malloc(b.length + 1); s.HEAPU8.set(b, at); s.HEAPU8[at + b.length] = 0; return at; };
  const str = (t) => put(Uint8Array.from(t, (c) => c.charCodeAt(0)));  // names as the calculator's bytes
  const error = (name, message = 'The transfer failed.') => new DOMException(message, name);
  const view = (bytes) => new DataView(Uint8Array.from(bytes).buffer);
  let o = {}, session = 0, opened = false, claimed = false, gone = false, taken = 0, outFree = 0, inFree = 0;
  let inbox = [], reads = [], writes = [], count = {}, halted = {}, dropping = {}, pumping;

  // How long `n` bytes take on the cable, counted in cableMs.
  const pace = (n) => (o.rate ? (window.cableMs += (n * 1000) / o.rate, (n * 1000) / o.rate) : 0);
  // `bytes` in packets of the endpoint's size.
  const packets = (bytes) => Array.from({length: Math.ceil(bytes.length / device.packetSize)},
                                        (_, i) => bytes.slice(i * device.packetSize, (i + 1) * device.packetSize));
  // Hands the packets that have come in to the reads waiting, in turn.
  const pump = () => {
    while (reads.length && inbox.length && inbox[0].at <= now()) {
      const r = reads[0], p = inbox.shift();
      if (dropping.in) dropping.in = false;
      else if (r.got.length + p.bytes.length > r.length) reads.shift().resolve({status: 'babble', data: view(r.got)});
      else if ((r.got.push(...p.bytes), p.bytes.length < device.packetSize || r.got.length == r.length))
        reads.shift().resolve({status: 'ok', data: view(r.got)});
    }
    clearTimeout(pumping);
    if (reads.length && inbox.length) pumping = setTimeout(pump, inbox[0].at - now());
  };
  // Every pending transfer ends with the DOMException `name`.
  const end = (name, message) => {
    for (const t of [...reads, ...writes]) t.reject(error(name, message));
    reads = [], writes = [];
  };
  // Why a transfer toward `direction` fails at once (undefined when it may go); counts it, and
  // halts the endpoint on the transfer o.halt names, which stalls the reads waiting too.
  const unusable = (direction) => {
    if (gone || !opened || !claimed) return Promise.reject(error(gone ? 'NotFoundError' : 'InvalidStateError'));
    count[direction] = (count[direction] || 0) + 1;
    halted[direction] ||= count[direction] == (o.halt || {})[direction];
    if (halted.in) reads.splice(0).forEach((r) => r.resolve({status: 'stall'}));
  };
  // The calculator takes a write's `bytes`; its answer comes in, packet by packet, from `o.answerMs` on.
  const take = (bytes) => {
    if (dropping.out) bytes = bytes.subarray(Math.min(bytes.length, device.packetSize)), dropping.out = false;
    const start = realNow(), at = put(bytes);
    gone ||= !s._sim_take(at, bytes.length);
    s._free(at);
    taken += bytes.length;
    const out = s._malloc(s._sim_pending() + 1), answer = s.HEAPU8.slice(out, out + s._sim_read(out, s._sim_pending()));
    s._free(out);
    window.simMs += realNow() - start;
    for (const p of packets(answer)) {
      inFree = Math.max(now() + (o.answerMs || 0), inFree) + pace(p.length);
      inbox.push({bytes: p, at: inFree});
    }
  };
  const configuration = {configurationValue: 1, interfaces: [{interfaceNumber: 0, alternate: {endpoints: [
    {endpointNumber: 1, direction: 'in', type: 'bulk'}, {endpointNumber: 2, direction: 'out', type: 'bulk'}]}}]};
  const device = {vendorId: 0x0451, productId: 0xE001, packetSize: 32, configuration,
    open: async () => {
      if (gone || o.denied) throw gone ? error('NotFoundError', 'The device was disconnected.') : error('SecurityError', 'Access denied.');
      opened = true;
    },
    selectConfiguration: async (v) => {
      if (!opened || v != 1) throw error('InvalidStateError');
      device.configuration = configuration;
    },
    claimInterface: async () => {
      if (!opened || !device.configuration || o.held) throw opened && o.held ? error('NetworkError', 'Unable to claim interface.') : error('InvalidStateError');
      claimed = true;
    },
    clearHalt: async (direction) => {
      if (!claimed) throw error('InvalidStateError');
      if (halted[direction] && o.haltAgain) o.halt = {[direction]: count[direction] + 1}, o.haltAgain = false;
      halted[direction] = dropping[direction] = false;
    },
    transferIn: (n, length) => unusable('in') || (halted.in ? Promise.resolve({status: 'stall'})
      : count.in == o.babble ? Promise.resolve({status: 'babble', data: view([])})
      : new Promise((resolve, reject) => (reads.push({length, got: [], resolve, reject}), pump()))),
    transferOut: (n, data) => unusable('out') || (halted.out ? Promise.resolve({status: 'stall', bytesWritten: 0}) : new Promise((resolve, reject) => {
      const bytes = Uint8Array.from(data), mine = session, write = {reject};
      writes.push(write);
      outFree = Math.max(now(), outFree) + pace(bytes.length);
      if (outFree == Infinity || taken + bytes.length > (o.stopAfter ?? Infinity)) return (outFree = Infinity);
      const out = () => {
        if (mine != session || !writes.includes(write)) return;
        writes.splice(writes.indexOf(write), 1);
        take(bytes);
        if (gone) return end('NotFoundError', 'The device was disconnected.'), reject(error('NotFoundError', 'The device was disconnected.'));
        resolve({status: 'ok', bytesWritten: bytes.length});
        pump();
      };
      // Without a rate, out at once: no timer, whose 4 ms floor would be the fake's time, not the page's.
      o.rate ? setTimeout(out, outFree - now()) : queueMicrotask(out);
    })),
    close: async () => {
      opened = claimed = false;
      ++session, outFree = 0;
      end('AbortError', 'The transfer was cancelled.');
    },
  };
  window.simMs = window.cableMs = 0;
  window.fakeDevice = device;
  window.calc = (set) => {
    since = now(), realSince = realNow(), speed = set.speed || 1;
    o = {...set}, gone = opened = claimed = false, taken = outFree = inFree = 0, reads = [], writes = [], count = {}, halted = {};
    device.productId = o.usb ? 0xE004 : 0xE001;
    device.packetSize = o.usb ? 64 : 32;
    configuration.interfaces[0].alternate.endpoints.forEach((e) => (e.packetSize = device.packetSize));
    device.configuration = o.unconfigured ? null : configuration;
    dropping = {in: !!o.outOfStep, out: !!o.outOfStep};
    inbox = packets(o.stale || []).map((p) => ({bytes: p, at: 0}));
    s._sim_new(o.model ?? +!!o.usb, !!o.usb, o.refusal || 0, !!o.silent, o.goneAfter ?? -1);
    for (const [k, v] of Object.entries(o.sim || {})) s._sim_option(str(k), v);
    for (const v of o.vars || []) s._sim_add(str(v.folder), str(v.name), v.type || 0x0C, v.attribute || 0, put(v.stored), v.stored.length);
  };
  const cstr = (at) => String.fromCharCode(...s.HEAPU8.subarray(at, s.HEAPU8.indexOf(0, at)));
  window.stored = () => Array.from({length: s._sim_count()}, (_, i) => [cstr(s._sim_folder(i)) + '\\' + cstr(s._sim_name(i)), Array.from(s.HEAPU8.subarray(s._sim_stored(i), s._sim_stored(i) + s._sim_stored_size(i)))]);
  const agent = Object.getOwnPropertyDescriptor(Navigator.prototype, 'userAgentData');
  Object.defineProperty(Navigator.prototype, 'userAgentData', {get() { return o.platform ? {platform: o.platform} : agent && agent.get.call(this); }});
  Object.defineProperty(Navigator.prototype, 'usb', {get: () => ({
    getDevices: async () => (sessionStorage.granted ? [device] : []),
    // The chooser closed without a device: WebUSB's requestDevice rejects with NotFoundError.
    requestDevice: async (f) => { if (sessionStorage.refuse) throw new DOMException('No device selected.', 'NotFoundError'); sessionStorage.asked = (+sessionStorage.asked || 0) + 1; sessionStorage.filters = JSON.stringify(f.filters); sessionStorage.granted = 1; return device; },
    addEventListener: () => {}})});
})();
