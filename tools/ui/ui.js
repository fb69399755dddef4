"use strict";
// The live tuning page of `rezadedudid-host --ui`. Plain script without a
// build step: the host serves this file as it is, and uPlot beside it.
//
// The host sends the ticks in batches about 30 times a second over one event
// stream; the page keeps the last 10 s and redraws on every animation frame,
// moving the window with its own clock between batches so the traces scroll
// smoothly instead of jumping at each batch.
(function () {
  const token = new URLSearchParams(location.search).get("token") || "";
  const WINDOW_S = 10;
  const CUES = [
    {name: "lateral", unit: "m/s²", color: "#d62728"},
    {name: "longitudinal", unit: "m/s²", color: "#1f77b4"},
    {name: "vertical", unit: "m/s²", color: "#2ca02c"},
    {name: "yaw", unit: "°/s", color: "#9467bd"},
    {name: "roll", unit: "°", color: "#ff7f0e"},
    {name: "pitch", unit: "°", color: "#17becf"},
  ];
  const SLOT_COLORS = ["#1f77b4", "#d62728", "#2ca02c", "#ff7f0e", "#9467bd", "#8c564b", "#e377c2", "#7f7f7f",
                       "#bcbd22", "#17becf"];
  // What each channel's output drives (docs/profile-format.md).
  const DRIVES = ["lateral cue", "longitudinal cue", "vertical cue", "yaw cue", "roll cue", "pitch cue",
                  "roll (tilt)", "pitch (tilt)", "roll", "pitch", "belt word",
                  "belt sum × slot 1", "belt sum × slot 2", "belt sum × slot 4", "belt sum × slot 5",
                  "+ lateral", "+ longitudinal", "+ vertical", "+ yaw", "+ roll", "+ pitch", "fan (0–100 %)",
                  "not used"];
  const GROUND_CHANNELS = 10;          // the ground profile has channels 0 to 9
  const BELT = {1: 11, 2: 12, 4: 13, 5: 14};  // belt-mix slot → the channel it weights
  const INPUT_LIMITED = 8;             // channels 0 to 7 are clamped to input limits
  const DEFAULT_PICKS = [3, 7];        // the lateral and longitudinal accelerations

  const $ = (id) => document.getElementById(id);
  const el = (tag, props, ...children) => {
    const e = Object.assign(document.createElement(tag), props || {});
    for (const c of children) e.append(c);
    return e;
  };
  const fmt = (v, digits) => (v == null || !Number.isFinite(v) ? "–" : v.toFixed(digits));

  // ---- the host -------------------------------------------------------------

  async function api(path, body) {
    const init = {headers: {"X-Rez-Token": token}};
    if (body !== undefined) {
      init.method = "POST";
      init.headers["Content-Type"] = "application/json";
      init.body = JSON.stringify(body);
    }
    const r = await fetch(path, init);
    const text = await r.text();
    let json = null;
    try { json = JSON.parse(text); } catch (e) { /* a refusal in plain text, below */ }
    if (json && typeof json === "object") return json;
    throw new Error(r.status + " " + (text.trim() || r.statusText));
  }

  function showError(message) {
    const b = $("error-banner");
    b.textContent = message;
    b.hidden = !message;
  }

  // ---- the live data ---------------------------------------------------------

  const live = {
    t: [],
    cues: CUES.map(() => []),
    slots: new Map(),  // slot number (string) → values, aligned with t (null before it was picked)
    newest: 0,
    arrivedAt: 0,      // performance.now() of the last batch
    dirty: false,
  };
  let state = null;             // /api/state
  let rigLimits = CUES.map(() => [0, 0]);
  const picked = new Set();

  function clearLive() {
    live.t.length = 0;
    for (const c of live.cues) c.length = 0;
    for (const v of live.slots.values()) v.length = 0;
  }

  function ingest(batch) {
    if (batch.state) showStatus(batch.state);
    const t = batch.t || [];
    const n = t.length;
    if (!n) return;
    // A clock that went back means a new run: start the window afresh.
    // Ticks the page already has (a stream opened again) are left out: the
    // charts need their times in order.
    const last = live.t.length ? live.t[live.t.length - 1] : -Infinity;
    if (t[0] < last - 1) clearLive();
    let i0 = 0;
    while (i0 < n && t[i0] <= (live.t.length ? last : -Infinity)) i0++;
    for (let i = i0; i < n; i++) live.t.push(t[i]);
    for (let c = 0; c < CUES.length; c++) {
      const from = batch.cues && batch.cues[c], to = live.cues[c];
      for (let i = i0; i < n; i++) to.push(from ? from[i] : null);
    }
    for (const [slot, to] of live.slots) {
      const from = batch.slots && batch.slots[slot];
      for (let i = i0; i < n; i++) to.push(from ? from[i] : null);
    }
    live.newest = t[n - 1];
    live.arrivedAt = performance.now();
    // Keep a little more than the window, so its left edge never runs dry.
    let drop = 0;
    const oldest = live.newest - WINDOW_S - 1;
    while (drop < live.t.length && live.t[drop] < oldest) drop++;
    if (drop) {
      live.t.splice(0, drop);
      for (const c of live.cues) c.splice(0, drop);
      for (const v of live.slots.values()) v.splice(0, drop);
    }
    live.dirty = true;
  }

  let source = null, reopenTimer = 0;
  function openStream() {
    if (source) source.close();
    let url = "/api/events?token=" + encodeURIComponent(token);
    if (picked.size) url += "&slots=" + [...picked].join(",");
    source = new EventSource(url);
    source.onopen = () => setLink("live", false);
    source.onmessage = (e) => ingest(JSON.parse(e.data));
    source.onerror = () => setLink(source.readyState === EventSource.CLOSED ? "lost: reload the page" : "reconnecting…", true);
  }
  function setLink(text, bad) {
    $("s-link").textContent = text;
    $("s-link").classList.toggle("bad", bad);
  }

  // ---- charts ------------------------------------------------------------------

  const valueOf = (u, v) => fmt(v, 2);

  // The cue charts span the rig limits (dashed), so one sees how close a cue
  // comes to the rig's stops; data beyond them still widens the scale.
  function cueRange(cues) {
    return (u, lo, hi) => {
      if (lo == null || !Number.isFinite(lo)) { lo = 0; hi = 0; }
      for (const c of cues) {
        const [a, b] = rigLimits[c];
        if (a < b) { lo = Math.min(lo, a); hi = Math.max(hi, b); }
      }
      if (hi - lo < 1e-6) { lo -= 1; hi += 1; }
      const pad = (hi - lo) * 0.05;
      return [lo - pad, hi + pad];
    };
  }

  function drawLimits(cues) {
    return (u) => {
      const ctx = u.ctx;
      ctx.save();
      ctx.lineWidth = 1;
      ctx.setLineDash([6, 4]);
      for (const c of cues) {
        const [a, b] = rigLimits[c];
        if (!(a < b)) continue;
        ctx.strokeStyle = CUES[c].color;
        ctx.globalAlpha = 0.6;
        for (const v of [a, b]) {
          const y = Math.round(u.valToPos(v, "y", true)) + 0.5;
          ctx.beginPath();
          ctx.moveTo(u.bbox.left, y);
          ctx.lineTo(u.bbox.left + u.bbox.width, y);
          ctx.stroke();
        }
      }
      ctx.restore();
    };
  }

  function chartWidth(box) {
    return Math.max(300, Math.floor(box.getBoundingClientRect().width));
  }

  function makeChart(box, series, height, yLabel, extra) {
    const opts = Object.assign({
      width: chartWidth(box),
      height: height,
      scales: {x: {time: false}},
      axes: [
        {label: "s since start", labelSize: 18, size: 34},
        {label: yLabel, labelSize: 18, size: 52},
      ],
      series: [{label: "t", value: (u, v) => fmt(v, 2) + " s"}].concat(series),
      cursor: {drag: {x: false, y: false}},
      legend: {live: true},
    }, extra || {});
    return new uPlot(opts, [[]].concat(series.map(() => [])), box);
  }

  function cueChart(box, cues, yLabel) {
    const series = cues.map((c) => ({label: CUES[c].name + " " + CUES[c].unit, stroke: CUES[c].color, width: 1.5,
                                     value: valueOf}));
    const u = makeChart(box, series, 230, yLabel, {
      scales: {x: {time: false}, y: {range: cueRange(cues)}},
      hooks: {draw: [drawLimits(cues)]},
    });
    u.liveData = () => [live.t].concat(cues.map((c) => live.cues[c]));
    return u;
  }

  const charts = {};
  function buildSlotChart() {
    if (charts.slots) charts.slots.destroy();
    const slots = [...picked].sort((a, b) => a - b);
    const names = (state && state.slotNames) || [];
    const series = slots.map((s, i) => ({label: names[s] || "slot_" + s, stroke: SLOT_COLORS[i % SLOT_COLORS.length],
                                         width: 1.5, value: valueOf}));
    charts.slots = makeChart($("chart-slots"), series, 200, "game units");
    charts.slots.liveData = () => [live.t].concat(slots.map((s) => live.slots.get(String(s))));
    $("slots-empty").hidden = slots.length > 0;
    live.dirty = true;
  }

  // Between batches the window moves on with the page's clock (at most 0.1 s
  // ahead of the newest tick), so it scrolls at the screen's rate.
  let frames = 0, framesSince = performance.now(), legendAt = 0;
  function frame(now) {
    requestAnimationFrame(frame);
    if (!live.t.length) return;
    const right = live.newest + Math.min(Math.max(now - live.arrivedAt, 0) / 1000, 0.1);
    const showLast = now - legendAt > 200;
    for (const u of [charts.linear, charts.angular, charts.slots]) {
      if (live.dirty) u.setData(u.liveData(), false);
      u.setScale("x", {min: right - WINDOW_S, max: right});
      // Off the cursor the legend shows the newest values.
      if (showLast && u.cursor.left < 0) u.setLegend({idx: live.t.length - 1});
    }
    if (showLast) legendAt = now;
    live.dirty = false;
    frames++;
    if (now - framesSince >= 1000) {
      window.rezUi.redrawsPerSecond = frames * 1000 / (now - framesSince);
      $("s-fps").textContent = fmt(window.rezUi.redrawsPerSecond, 0) + " redraws/s";
      frames = 0;
      framesSince = now;
    }
  }

  function resize() {
    for (const u of Object.values(charts)) u.setSize({width: chartWidth(u.root.parentElement), height: u.height});
    for (const u of Object.values(response.charts)) if (u) u.setSize({width: chartWidth(u.root.parentElement), height: u.height});
  }

  // ---- status ------------------------------------------------------------------

  function showStatus(s) {
    $("s-game").textContent = s.game || "no game";
    $("s-rate").textContent = fmt(s.ticksPerSecond, 0);
    $("s-low").hidden = !s.lowTickRate;
    $("s-rate-box").classList.toggle("bad", !!s.lowTickRate);
    $("s-output").textContent = s.output || "–";
    $("s-fade").textContent = "fade " + fmt(s.fadePercent, 0) + " %";
    $("s-blend-box").hidden = !s.showsBlend;
    if (s.showsBlend) {
      const where = s.groundState === 1 ? "on the ground" : s.groundState === 0 ? "in the air" : "no game";
      $("s-blend").textContent = where + ", air " + fmt(s.airPercent, 0) + " %";
    }
    $("s-frames").textContent = s.framesReceived >= 0 ? s.framesReceived + " frames at the controller"
                                                      : "frames not seen";
    $("s-replies").textContent = s.requests ? s.replies + " of " + s.requests : "none sent";
    // As the status line has it: several unanswered requests mean nothing
    // at the far end speaks the controller's protocol.
    $("s-silent").hidden = !(s.requests >= 3 && s.replies === 0);
  }

  function showRecording(rec) {
    const on = !!(rec && rec.on);
    $("record").textContent = on ? "Stop recording" : "Start recording";
    $("record").classList.toggle("on", on);
    $("s-recording").textContent = on ? "on" : "off";
    if (rec && rec.path) $("record-note").textContent = (on ? "recording to " : "recorded to ") + rec.path;
  }

  // ---- editing -----------------------------------------------------------------

  // A field's look: edited (not sent yet), applied, or refused with the reason beside it.
  function mark(field, note, kind, text) {
    field.classList.remove("edited", "applied", "refused", "sending");
    if (kind) field.classList.add(kind);
    note.textContent = text || "";
    note.className = "note " + (kind || "");
  }

  async function post(field, note, path, body) {
    mark(field, note, "sending", "…");
    try {
      const r = await api(path, body);
      if (r.ok) mark(field, note, "applied", "applied");
      else mark(field, note, "refused", r.error || "refused");
      return r;
    } catch (e) {
      mark(field, note, "refused", "not sent: " + e.message);
      return {ok: false};
    }
  }

  const channelName = (ch) => {
    const slot = state.channelSlots[ch];
    return slot >= 0 ? state.slotNames[slot] : "—";
  };

  function filterField(profile, ch, text) {
    const field = el("input", {type: "text", className: "filter", spellcheck: false, value: text});
    field.dataset.profile = profile;
    field.dataset.channel = ch;
    field.dataset.applied = text;
    field.dataset.sent = text;
    const note = el("div", {className: "note"});
    const submit = async () => {
      const value = field.value.trim();
      if (value === field.dataset.sent) return;
      field.dataset.sent = value;
      const r = await post(field, note, "/api/filter", {profile: profile, channel: ch, text: value});
      if (r.ok) {
        field.dataset.applied = value;
        showResponse(field.closest("tr"), profile, ch, value);
      }
    };
    field.addEventListener("keydown", (e) => { if (e.key === "Enter") submit(); });
    field.addEventListener("blur", submit);
    field.addEventListener("input", () => {
      if (field.value.trim() !== field.dataset.applied) mark(field, note, "edited", note.textContent);
    });
    const enabled = el("input", {type: "checkbox", className: "enable", title: "chain on"});
    enabled.checked = state.profile.enabled[profile][ch];
    enabled.dataset.profile = profile;
    enabled.dataset.channel = ch;
    enabled.addEventListener("change", async () => {
      const r = await post(enabled, note, "/api/enable", {profile: profile, channel: ch, on: enabled.checked});
      if (!r.ok) enabled.checked = !enabled.checked;
    });
    const show = el("button", {className: "show", type: "button", title: "its step response and the last 10 s",
                               textContent: "response"});
    show.addEventListener("click", () => showResponse(field.closest("tr"), profile, ch, field.value.trim()));
    return el("div", {className: "chain " + profile},
              el("span", {className: "which", textContent: profile}), enabled, field, show, note);
  }

  function buildChannels() {
    const body = document.querySelector("#channels tbody");
    body.textContent = "";
    for (let ch = 0; ch < state.profile.filters.air.length; ch++) {
      const cell = el("td", {className: "chains"}, filterField("air", ch, state.profile.filters.air[ch]));
      if (ch < GROUND_CHANNELS) cell.append(filterField("ground", ch, state.profile.filters.ground[ch]));
      const row = el("tr", {}, el("td", {className: "num", textContent: ch}),
                     el("td", {className: "route"}, el("span", {className: "reads", textContent: channelName(ch)}),
                        el("span", {className: "drives", textContent: "→ " + DRIVES[ch]})),
                     cell);
      row.dataset.channel = ch;
      body.append(row);
    }
  }

  function numberField(value, onChange) {
    const f = el("input", {type: "number", step: "any", className: "number", value: String(value)});
    f.addEventListener("change", onChange);
    return f;
  }

  function limitRow(body, index, reads, range, path, key, after) {
    const note = el("span", {className: "note"});
    let lo, hi;
    const send = async (e) => {
      const min = lo.valueAsNumber, max = hi.valueAsNumber;
      if (!Number.isFinite(min) || !Number.isFinite(max)) return mark(e.target, note, "refused", "enter a number");
      const r = await post(e.target, note, path, {[key]: index, min: min, max: max});
      if (r.ok && after) after(index, min, max);
    };
    lo = numberField(range[0], send);
    hi = numberField(range[1], send);
    body.append(el("tr", {}, el("td", {className: "num", textContent: index}), el("td", {}, reads, note),
                   el("td", {}, lo), el("td", {}, hi)));
    lo.dataset.index = hi.dataset.index = index;
    lo.dataset.bound = "min";
    hi.dataset.bound = "max";
  }

  function buildSettings() {
    const belt = document.querySelector("#belt tbody");
    belt.textContent = "";
    for (const [index, ch] of Object.entries(BELT)) {
      const note = el("span", {className: "note"});
      const f = numberField(state.profile.beltMix[index], async () => {
        if (!Number.isFinite(f.valueAsNumber)) return mark(f, note, "refused", "enter a number");
        await post(f, note, "/api/belt", {index: Number(index), weight: f.valueAsNumber});
      });
      f.dataset.index = index;
      belt.append(el("tr", {}, el("td", {className: "num", textContent: index}),
                     el("td", {}, "ch " + ch + " " + channelName(ch), note), el("td", {}, f)));
    }
    const inputs = document.querySelector("#input-limits tbody");
    inputs.textContent = "";
    for (let ch = 0; ch < INPUT_LIMITED; ch++)
      limitRow(inputs, ch, channelName(ch), state.profile.inputLimits[ch], "/api/input-limit", "channel");
    const rig = document.querySelector("#rig-limits tbody");
    rig.textContent = "";
    for (let i = 0; i < CUES.length; i++)
      limitRow(rig, i, CUES[i].name + " " + CUES[i].unit, state.profile.rigLimits[i], "/api/rig-limit", "index",
               (index, min, max) => { rigLimits[index] = [min, max]; live.dirty = true; });
  }

  // ---- a chain's responses, from the library's own filter code -----------------

  const response = {charts: {step: null, recorded: null}, row: null};

  async function showResponse(row, profile, ch, text) {
    if (response.row) response.row.remove();
    for (const k of Object.keys(response.charts)) {
      if (response.charts[k]) response.charts[k].destroy();
      response.charts[k] = null;
    }
    const head = el("div", {className: "response-head"},
                    el("b", {textContent: profile + " channel " + ch + " (" + DRIVES[ch] + "): "}),
                    el("code", {textContent: text}));
    const close = el("button", {type: "button", className: "close", textContent: "close"});
    const stepBox = el("div", {className: "chart"}), recBox = el("div", {className: "chart"});
    const note = el("div", {className: "note", textContent: "computing…"});
    const cell = el("td", {colSpan: 3}, el("div", {className: "response-top"}, head, close), note,
                    el("div", {className: "response-charts"},
                       el("div", {}, el("h3", {textContent: "step response: a unit step at 0.5 s (grey) through the chain (red)"}),
                          stepBox),
                       el("div", {}, el("h3", {textContent: "the last 10 s of " + channelName(ch) + " (grey) through the chain (blue)"}),
                          recBox)));
    response.row = el("tr", {className: "response"}, cell);
    response.row.dataset.profile = profile;
    response.row.dataset.channel = ch;
    row.after(response.row);
    close.addEventListener("click", () => { response.row.remove(); response.row = null; });
    const mine = response.row;
    let r;
    try {
      r = await api("/api/response", {profile: profile, channel: ch, text: text});
    } catch (e) {
      r = {ok: false, error: e.message};
    }
    if (response.row !== mine) return;  // another chain was picked meanwhile
    if (!r.ok) {
      note.textContent = r.error || "no response";
      note.className = "note refused";
      return;
    }
    note.textContent = "";
    response.charts.step = responseChart(stepBox, [r.step.t, r.step.input, r.step.y], "#d62728", [4, 3], 3);
    response.charts.recorded = responseChart(recBox, [r.recorded.t, r.recorded.input, r.recorded.output], "#1f77b4",
                                             undefined, 2);
  }

  // A chain's input (grey) and its output, over the times the host computed them at.
  function responseChart(box, data, color, inputDash, timeDigits) {
    return new uPlot({
      width: chartWidth(box), height: 170, scales: {x: {time: false}}, legend: {show: false},
      axes: [{label: "s", labelSize: 16, size: 30}, {size: 44}],
      series: [{label: "t", value: (u, v) => fmt(v, timeDigits)},
               {label: "input", stroke: "#999", width: 1, dash: inputDash, value: valueOf},
               {label: "output", stroke: color, width: 1.5, value: valueOf}],
    }, data, box);
  }

  // ---- slot picker, buttons ----------------------------------------------------

  function buildPicker() {
    const list = $("slot-list");
    list.textContent = "";
    state.slotNames.forEach((name, slot) => {
      if (slot === 0) return;  // never written by any game
      const box = el("input", {type: "checkbox", checked: picked.has(slot)});
      box.dataset.slot = slot;
      box.addEventListener("change", () => {
        if (box.checked) {
          picked.add(slot);
          live.slots.set(String(slot), live.t.map(() => null));
        } else {
          picked.delete(slot);
          live.slots.delete(String(slot));
        }
        buildSlotChart();
        // A few quick clicks reopen the stream once.
        clearTimeout(reopenTimer);
        reopenTimer = setTimeout(openStream, 250);
      });
      list.append(el("label", {className: "slot"}, box, " " + name));
    });
  }

  function wireButtons() {
    $("save").addEventListener("click", async () => {
      const note = $("save-note");
      const path = $("save-path").value.trim();
      note.textContent = "saving…";
      note.className = "note";
      try {
        const r = await api("/api/save", path ? {path: path} : {});
        note.textContent = r.ok ? "saved to " + r.path : r.error;
        note.className = "note " + (r.ok ? "applied" : "refused");
        if (r.ok) note.dataset.path = r.path;
      } catch (e) {
        note.textContent = "not saved: " + e.message;
        note.className = "note refused";
      }
    });
    $("record").addEventListener("click", async () => {
      const on = !(state.recording && state.recording.on);
      try {
        const r = await api("/api/record", {on: on});
        if (!r.ok) throw new Error(r.error);
        state.recording = {on: r.on, path: r.path};
        showRecording(state.recording);
      } catch (e) {
        $("record-note").textContent = "recording " + (on ? "not started: " : "not stopped: ") + e.message;
      }
    });
  }

  // ---- start ------------------------------------------------------------------

  async function start() {
    try {
      state = await api("/api/state");
      if (state.ok === false || !state.profile) throw new Error(state.error || "no state");
    } catch (e) {
      showError("The host does not answer (" + e.message + "). Open the address the host printed, with its token.");
      setLink("no host", true);
      return;
    }
    rigLimits = state.profile.rigLimits.map((r) => [r[0], r[1]]);
    for (const s of DEFAULT_PICKS) {
      picked.add(s);
      live.slots.set(String(s), []);
    }
    $("s-transport").textContent = state.transport;
    showStatus(state);
    showRecording(state.recording);
    charts.linear = cueChart($("chart-linear"), [0, 1, 2], "m/s²");
    charts.angular = cueChart($("chart-angular"), [3, 4, 5], "°/s, °");
    buildSlotChart();
    buildPicker();
    buildChannels();
    buildSettings();
    wireButtons();
    openStream();
    let resizeTimer = 0;
    window.addEventListener("resize", () => { clearTimeout(resizeTimer); resizeTimer = setTimeout(resize, 100); });
    requestAnimationFrame(frame);
  }

  // What the page draws, for a look from the browser's console (and the page's test).
  window.rezUi = {live: live, charts: charts, response: response, redrawsPerSecond: 0};
  if (typeof uPlot === "undefined")
    document.addEventListener("DOMContentLoaded", () => showError("The chart library did not load: run scripts/install-deps.sh."));
  else if (document.readyState === "loading") document.addEventListener("DOMContentLoaded", start);
  else start();
})();
