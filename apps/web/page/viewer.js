// The viewer page: a folder tree of the access points' files, a file's annotations and
// channels, and channels drawn against time with uPlot, with a legend and a read-out of
// the values at the cursor. Each view asks the server for at most as many points as the
// plot has pixel columns: min/max bands far out, the values themselves zoomed in. The hash
// (#file=AP/PATH&channels=1,4&from=T0&to=T1) is the view: editing it redraws, and each
// settled view is a history entry, so that back and forward move between views
// (doc/viewer.md).
"use strict";

(function () {
  const MAX_WIDTH = 4096;  // the server's bound on points per window
  const PLOT_HEIGHT = 420;
  const COLORS = ["#1f6fb4", "#d1342b", "#2a9d3a", "#8e57c4", "#e07b10", "#13a3b5", "#8c564b", "#d0489b"];
  // Each run of 8 channels has the colours again with its own dash: 32 distinct styles.
  const DASHES = [[], [9, 4], [2, 3], [10, 3, 2, 3]];
  const MAX_FOLDERS = 500;  // folders a search by name walks at most
  const DIRECTIONS = ["", "S", "+X", "+Y", "+Z", "+RX", "+RY", "+RZ", "-X", "-Y", "-Z", "-RX", "-RY", "-RZ"];

  const state = {
    path: null,      // AP/PATH of the open file
    listing: null,   // the file's document from /api/file
    plotted: [],     // channel numbers drawn, ascending
    full: null,      // {from, to}: the time span of the plotted channels
    view: null,      // {from, to}: the time span shown
    minSpan: 0,      // the narrowest view: a few sampling intervals
    plot: null,      // the uPlot instance
    plotKey: "",     // the channels it was made for
    request: 0,      // number of the newest window request; older answers are dropped
    fetchTimer: 0,
    block: 1,        // values per point of the drawn windows
    inkDue: false,   // new data is drawn next: count its ink
    drawStart: 0,    // performance.now() when the newest draw was asked for
    windows: [],     // the drawn windows, as /api/channel answered them
    folders: new Map(),  // "AP/DIR" (or "AP") -> its listing, once asked
    wholeStats: null,    // /api/stats of the whole plotted channels (key: the panel's data-whole)
  };

  const $ = (id) => document.getElementById(id);
  const setState = (name) => { document.body.dataset.state = name; };
  const showStatus = (text) => { $("status").textContent = text || ""; };
  const colorOf = (number) => COLORS[(number - 1) % COLORS.length];
  const dashOf = (number) => DASHES[Math.floor((number - 1) / COLORS.length) % DASHES.length];
  const figure = (v) => (typeof v === "number" ? String(Number(v.toPrecision(7))) : v === null || v === undefined ? "–" : String(v));
  const query = (params) => new URLSearchParams(params).toString();
  const isNumber = (v) => typeof v === "number" && Number.isFinite(v);
  const seconds = (t) => String(Number(t.toPrecision(6)));

  function fail(error) {
    showStatus(error.message || String(error));
    setState("error");
  }

  async function getJson(url) {
    const response = await fetch(url);
    let body = null;
    try {
      body = await response.json();
    } catch (e) {
      throw new Error(`${url}: ${response.status} ${response.statusText}`);
    }
    if (!response.ok) throw new Error(body.error || `${url}: ${response.status}`);
    return body;
  }

  function element(tag, text, className) {
    const node = document.createElement(tag);
    if (text !== undefined) node.textContent = text;
    if (className) node.className = className;
    return node;
  }

  function readHash() {
    const params = new URLSearchParams(location.hash.slice(1));
    const channels = (params.get("channels") || "").split(",").map(Number).filter((n) => Number.isInteger(n) && n > 0);
    const from = parseFloat(params.get("from")), to = parseFloat(params.get("to"));
    const view = Number.isFinite(from) && Number.isFinite(to) && from < to ? { from, to } : null;
    return { file: params.get("file"), channels, view };
  }

  // The address of the view shown.
  function viewHash() {
    const shown = { file: state.path, channels: state.plotted.join(",") };
    if (state.view) Object.assign(shown, { from: state.view.from, to: state.view.to });
    return "#" + query(shown);
  }

  // The view shown as its address; `push` makes it a history entry of its own.
  function writeHash(push) {
    const hash = viewHash();
    if (hash === location.hash) return;
    if (push) history.pushState(null, "", hash);
    else history.replaceState(null, "", hash);
  }

  // The address was edited, or back or forward was pressed: show the view it names.
  function applyHash() {
    const hash = readHash();
    if (!hash.file || (state.path && location.hash === viewHash())) return;  // shown already
    if (hash.file !== state.path) {
      openFile(hash.file, hash.channels, hash.view, false).catch(fail);
      return;
    }
    const known = hash.channels.filter((n) => n <= state.listing.channels.length).sort((a, b) => a - b);
    if (known.length > 0) state.plotted = known;
    checkPlotted();
    spanOfChannels();
    state.view = hash.view && state.full ? clampView(hash.view.from, hash.view.to) : null;
    writeHash(false);  // as clamped
    draw().catch(fail);
  }

  // ---- files and channels -----------------------------------------------------------

  // Asks for a folder's listing once: "AP" for an access point's top, "AP/DIR" below it.
  async function folder(dir) {
    if (!state.folders.has(dir)) {
      const doc = await getJson("api/files?" + query({ dir }));
      state.folders.set(dir, doc.access_points[0]);
    }
    return state.folders.get(dir);
  }

  function listItem(node) {
    const item = element("li");
    item.append(node);
    return item;
  }

  function fileLink(path, text) {
    const link = element("a", text);
    link.href = "#" + query({ file: path });
    link.dataset.path = path;
    link.classList.toggle("open", path === state.path);
    link.addEventListener("click", (event) => {
      event.preventDefault();
      openFile(path, [], null, true).catch(fail);
    });
    return link;
  }

  // A folder's entries into `list`: its folders, closed (opened on a click, when their
  // contents are asked for), then its files.
  function fillFolder(list, listing) {
    for (const dir of listing.directories || []) {
      const item = element("li", undefined, "folder");
      const toggle = element("button", dir.name);
      toggle.type = "button";
      toggle.dataset.dir = dir.path;
      toggle.setAttribute("aria-expanded", "false");
      const inside = element("ul");
      inside.hidden = true;
      toggle.addEventListener("click", () => openFolder(toggle, inside).catch(fail));
      item.append(toggle, inside);
      list.append(item);
    }
    for (const file of listing.files) list.append(listItem(fileLink(file.path, file.name)));
    if (listing.files.length === 0 && (listing.directories || []).length === 0 && !listing.error) {
      list.append(element("li", "no files", "error"));
    }
  }

  async function openFolder(toggle, inside, open = inside.hidden) {
    if (open && !inside.dataset.filled) {
      inside.dataset.filled = "1";
      fillFolder(inside, await folder(toggle.dataset.dir));
    }
    inside.hidden = !open;
    toggle.setAttribute("aria-expanded", String(open));
  }

  // Opens the folders on the way to `path` (AP/DIR/.../NAME).
  async function revealFile(path) {
    const parts = path.split("/");
    for (let i = 2; i < parts.length; ++i) {
      const toggle = document.querySelector(`#tree button[data-dir="${CSS.escape(parts.slice(0, i).join("/"))}"]`);
      if (!toggle) return;
      await openFolder(toggle, toggle.nextElementSibling, true);
    }
  }

  async function listFiles() {
    const doc = await getJson("api/files");
    const tree = $("tree");
    tree.textContent = "";
    for (const point of doc.access_points) {
      state.folders.set(point.name, point);
      tree.append(element("h3", point.name));
      if (point.error) tree.append(element("p", point.error, "error"));
      const list = element("ul");
      fillFolder(list, point);
      tree.append(list);
    }
    setState("listed");
    return doc;
  }

  // Every file under the access points, walking at most MAX_FOLDERS folders.
  async function allFiles() {
    const files = [], pending = [...document.querySelectorAll("#tree > h3")].map((h) => h.textContent);
    for (let walked = 0; pending.length > 0 && walked < MAX_FOLDERS; ++walked) {
      const listing = await folder(pending.shift());
      files.push(...listing.files);
      pending.push(...(listing.directories || []).map((d) => d.path));
    }
    return files;
  }

  // The files whose path holds what was typed, in place of the tree while there is text.
  async function findFiles() {
    const text = $("find").value.trim().toLowerCase();
    const found = $("found");
    $("tree").hidden = text !== "";
    found.hidden = text === "";
    if (!text) return;
    const matches = (await allFiles()).filter((f) => f.path.toLowerCase().includes(text));
    if ($("find").value.trim().toLowerCase() !== text) return;  // typed on meanwhile
    found.textContent = "";
    for (const file of matches) found.append(listItem(fileLink(file.path, file.path)));
    if (matches.length === 0) found.append(element("li", "no file matches", "error"));
  }

  function annotationText(annotation) {
    return annotation ? String(annotation.value) : "";
  }

  function showListing(listing) {
    const annotations = $("file-annotations").querySelector("tbody");
    annotations.textContent = "";
    for (const a of listing.file.annotations) {
      const row = element("tr");
      row.append(element("td", a.name),
                 element("td", a.iso8601 ? `${a.value} (${a.iso8601})` : String(a.value)));
      annotations.append(row);
    }
    const body = $("channels").querySelector("tbody");
    body.textContent = "";
    for (const channel of listing.channels) {
      const byName = Object.fromEntries(channel.annotations.map((a) => [a.name, a]));
      const record = channel.function_record;
      const row = element("tr");
      const box = element("input");
      box.type = "checkbox";
      box.dataset.channel = channel.number;
      box.addEventListener("change", () => toggleChannel(channel.number, box.checked));
      const plotCell = element("td");
      plotCell.append(box, swatch(channel.number));
      row.append(plotCell, element("td", channel.number, "number"), element("td", channel.label),
                 element("td", channel.unit), element("td", annotationText(byName.scale), "number"),
                 element("td", annotationText(byName.lower_limit), "number"),
                 element("td", annotationText(byName.upper_limit), "number"),
                 element("td", channel.values.count, "number"),
                 element("td", String(record.sampling_frequency), "number"), element("td", record.point),
                 element("td", DIRECTIONS[record.direction] || ""));
      body.append(row);
    }
    document.body.dataset.channels = listing.channels.length;
    $("channel-count").textContent = `${listing.channels.length} channels`;
    // Many channels fold away, so that the plot stays on screen.
    $("channel-list").open = listing.channels.length <= 8;
  }

  // A channel's colour and dash, as a short line.
  function swatch(number) {
    const svg = document.createElementNS("http://www.w3.org/2000/svg", "svg");
    svg.setAttribute("class", "swatch");
    svg.setAttribute("width", "28");
    svg.setAttribute("height", "8");
    const line = document.createElementNS(svg.namespaceURI, "line");
    for (const [name, value] of [["x1", 0], ["y1", 4], ["x2", 28], ["y2", 4], ["stroke", colorOf(number)],
                                 ["stroke-width", 2], ["stroke-dasharray", dashOf(number).join(" ")]]) {
      line.setAttribute(name, value);
    }
    svg.append(line);
    return svg;
  }

  function checkPlotted() {
    for (const box of document.querySelectorAll("#channels input")) {
      box.checked = state.plotted.includes(Number(box.dataset.channel));
    }
  }

  // Opens the file at `path` with `channels` drawn over `view` (null: the whole); `push`
  // makes it a history entry.
  async function openFile(path, channels, view, push) {
    showStatus("opening " + path);
    const listing = await getJson("api/file?" + query({ path }));
    state.path = path;
    state.listing = listing;
    for (const link of document.querySelectorAll("nav a")) link.classList.toggle("open", link.dataset.path === path);
    revealFile(path).catch(fail);
    $("file").hidden = false;
    $("file-title").textContent = `${path}: ${listing.channels.length} channels`;
    showListing(listing);
    $("stats-panel").hidden = true;
    setState("file");
    const known = channels.filter((n) => n <= listing.channels.length);
    state.plotted = known.length > 0 ? known : listing.channels.length > 0 ? [1] : [];
    state.plotted.sort((a, b) => a - b);
    checkPlotted();
    state.view = null;
    spanOfChannels();
    if (view && state.full) state.view = clampView(view.from, view.to);
    writeHash(push);
    showStatus("");
    await draw();
  }

  // Minimum, maximum, mean and RMS of the plotted channels over the window on screen, and
  // over each whole channel (read once per file and channels: it reads every value).
  async function showStats() {
    const path = state.path, channel = state.plotted.join(",");
    const view = currentView();
    if (!channel || !view) return;
    const panel = $("stats-panel");
    panel.hidden = false;
    const wholeKey = `${path}#${channel}`;
    const asks = [getJson("api/stats?" + query({ path, channel, from: view.from, to: view.to }))];
    if (panel.dataset.whole !== wholeKey) {
      showStatus("reading every value of the channels…");
      asks.push(getJson("api/stats?" + query({ path, channel })));
    }
    const [inWindow, whole] = await Promise.all(asks);
    if (whole) showStatus("");
    if (path !== state.path || channel !== state.plotted.join(",")) return;
    if (whole) {
      state.wholeStats = whole;
      panel.dataset.whole = wholeKey;
    }
    $("stats-window").textContent = `window ${seconds(view.from)} s to ${seconds(view.to)} s`;
    const body = $("stats").querySelector("tbody");
    body.textContent = "";
    inWindow.channels.forEach((w, i) => {
      const all = state.wholeStats.channels[i];
      const row = element("tr");
      row.append(element("td", w.number, "number"), element("td", w.label), element("td", w.unit));
      for (const v of [w.count, w.min, w.max, w.mean, w.rms, all.min, all.max, all.mean, all.rms]) {
        row.append(element("td", figure(v), "number"));
      }
      row.children[8].classList.add("whole");
      body.append(row);
    });
    panel.dataset.window = `${view.from},${view.to}`;
  }

  function toggleChannel(number, on) {
    state.plotted = state.plotted.filter((n) => n !== number);
    if (on) state.plotted.push(number);
    state.plotted.sort((a, b) => a - b);
    const view = state.view;
    spanOfChannels();
    if (view && state.full) state.view = clampView(view.from, view.to);
    writeHash(true);
    draw().catch(fail);
  }

  // The time span of the plotted channels, and the narrowest view worth asking for.
  function spanOfChannels() {
    let from = Infinity, to = -Infinity, spacing = Infinity;
    for (const number of state.plotted) {
      const v = state.listing.channels[number - 1].values;
      if (!isNumber(v.first) || !isNumber(v.spacing) || v.spacing <= 0 || v.count === 0) continue;
      from = Math.min(from, v.first);
      to = Math.max(to, v.first + (v.count - 1) * v.spacing);
      spacing = Math.min(spacing, v.spacing);
    }
    state.full = from < to ? { from, to } : null;
    state.minSpan = Number.isFinite(spacing) ? 4 * spacing : 0;
    if (!state.full) state.view = null;
  }

  // ---- views ------------------------------------------------------------------------

  function clampView(from, to) {
    const full = state.full;
    let span = Math.max(to - from, state.minSpan);
    if (span >= full.to - full.from) return { from: full.from, to: full.to };
    if (from < full.from) from = full.from;
    if (from + span > full.to) from = full.to - span;
    return { from, to: from + span };
  }

  function currentView() {
    return state.view || state.full;
  }

  // Shows the view at once with the data at hand, and asks for its points shortly after.
  function setView(from, to) {
    if (!state.full) return;
    state.view = clampView(from, to);
    if (state.plot) state.plot.setScale("x", { min: state.view.from, max: state.view.to });
    clearTimeout(state.fetchTimer);
    state.fetchTimer = setTimeout(() => {
      writeHash(true);
      draw().catch(fail);
    }, 120);
  }

  function zoom(factor, centre) {
    const view = currentView();
    if (!view) return;
    const at = centre === undefined ? (view.from + view.to) / 2 : centre;
    setView(at - (at - view.from) * factor, at + (view.to - at) * factor);
  }

  function pan(fraction) {
    const view = currentView();
    if (!view) return;
    const shift = (view.to - view.from) * fraction;
    setView(view.from + shift, view.to + shift);
  }

  // ---- drawing ----------------------------------------------------------------------

  function plotWidth() {
    return Math.max(200, $("plot").clientWidth - 2);
  }

  async function draw() {
    const id = ++state.request;
    state.drawStart = performance.now();
    if (state.plotted.length === 0) {
      if (state.plot) state.plot.destroy();
      state.plot = null;
      state.plotKey = "";
      document.body.dataset.plotted = 0;
      document.body.dataset.ink = 0;
      $("window").textContent = "";
      $("legend").textContent = "";
      return;
    }
    // One point per device pixel column of the plotting area (the whole plot before the first).
    const columns = state.plot ? state.plot.bbox.width : plotWidth() * (window.devicePixelRatio || 1);
    const width = Math.min(MAX_WIDTH, Math.max(1, Math.round(columns)));
    const view = state.view;
    const params = (channel) => Object.assign({ path: state.path, channel, width },
                                              view ? { from: view.from, to: view.to } : {});
    showStatus("reading…");
    const windows = await Promise.all(state.plotted.map((n) => getJson("api/channel?" + query(params(n)))));
    if (id !== state.request) return;  // a newer view was asked for meanwhile
    showStatus("");
    render(windows);
  }

  function sameTimes(a, b) {
    return a.length === b.length && (a.length === 0 || (a[0] === b[0] && a[a.length - 1] === b[b.length - 1]));
  }

  // [time, upper 1, lower 1, upper 2, lower 2, ...]: a band per channel, of zero width for
  // raw values.
  function tableOf(windows) {
    const tables = windows.map((w) => {
      const upper = w.kind === "raw" ? w.value : w.max;
      const lower = w.kind === "raw" ? w.value : w.min;
      return [w.time, upper, lower];
    });
    if (tables.every((t) => sameTimes(t[0], tables[0][0]))) {
      return [tables[0][0]].concat(...tables.map((t) => [t[1], t[2]]));
    }
    return uPlot.join(tables);
  }

  function makePlot(windows, data) {
    const units = [...new Set(windows.map((w) => w.unit || "-"))];
    const series = [{ label: "time [s]" }];
    const bands = [];
    for (const w of windows) {
      const color = colorOf(w.channel), dash = dashOf(w.channel);
      const scale = w.unit || "-";
      series.push({ label: `${w.channel} ${w.label} (max)`, stroke: color, width: 1, dash, scale },
                  { label: `${w.channel} ${w.label} (min)`, stroke: color, width: 1, dash, scale });
      bands.push({ series: [series.length - 2, series.length - 1], fill: color + "40" });
    }
    const scales = { x: { time: false, auto: false } };
    const axes = [{ label: "time [s]", labelSize: 20 }];
    units.forEach((unit, i) => {
      // An axis of one channel is named by it; one of several by its unit and their numbers.
      const on = windows.filter((w) => (w.unit || "-") === unit);
      const label = on.length === 1 ? `${on[0].channel} ${on[0].label} [${unit}]`
                                    : `[${unit}] channels ${on.map((w) => w.channel).join(", ")}`;
      scales[unit] = {};
      axes.push({ scale: unit, label, labelSize: 20, side: i % 2 === 0 ? 3 : 1, size: 64,
                  grid: { show: i === 0 } });
    });
    const options = {
      width: plotWidth(),
      height: PLOT_HEIGHT,
      series,
      bands,
      scales,
      axes,
      legend: { show: false },
      cursor: { drag: { x: true, y: false, setScale: false } },
      hooks: {
        setSelect: [(u) => {
          if (u.select.width < 3) return;
          const from = u.posToVal(u.select.left, "x");
          const to = u.posToVal(u.select.left + u.select.width, "x");
          u.setSelect({ left: 0, top: 0, width: 0, height: 0 }, false);
          setView(from, to);
        }],
        draw: [countInk],
        setCursor: [readOut],
      },
    };
    $("plot").textContent = "";
    const plot = new uPlot(options, data, $("plot"));
    plot.over.addEventListener("wheel", (event) => {
      event.preventDefault();
      zoom(event.deltaY < 0 ? 0.8 : 1.25, plot.posToVal(event.offsetX, "x"));
    }, { passive: false });
    return plot;
  }

  function render(windows) {
    const data = tableOf(windows);
    const key = windows.map((w) => `${w.channel}:${w.unit}`).join(",");
    if (!state.plot || state.plotKey !== key) {
      if (state.plot) state.plot.destroy();
      state.plot = makePlot(windows, data);
      state.plotKey = key;
    } else {
      state.plot.setData(data, false);
    }
    const view = currentView();
    const times = data[0];
    const span = view || (times.length ? { from: times[0], to: times[times.length - 1] } : { from: 0, to: 1 });
    state.plot.setScale("x", { min: span.from, max: span.to > span.from ? span.to : span.from + 1 });
    state.block = Math.max(...windows.map((w) => w.window.block_size));
    const values = windows[0].window.count;
    $("window").textContent = `${seconds(span.from)} s to ${seconds(span.to)} s, ${values} values: ` +
      (state.block > 1 ? `min and max of ${state.block} values per point` : "every value");
    document.body.dataset.plotted = windows.length;
    state.windows = windows;
    showLegend(windows);
    exportLinks();
    if (!$("stats-panel").hidden) showStats().catch(fail);
    state.inkDue = true;
  }

  // One entry per drawn channel: its line, number, description and unit, and the read-out.
  function showLegend(windows) {
    const legend = $("legend");
    legend.textContent = "";
    legend.append(element("span", "", "time"));
    for (const w of windows) {
      const entry = element("span", undefined, "entry");
      entry.dataset.channel = w.channel;
      entry.append(swatch(w.channel), element("span", `${w.channel} ${w.label} [${w.unit}]`),
                   element("output", "", "value"));
      legend.append(entry);
    }
  }

  // The time and each channel's value at the cursor, from the points drawn: a value where
  // the values themselves are drawn, "min … max" of the point's block where a band is.
  function readOut(u) {
    const i = u.cursor.idx;
    const legend = $("legend");
    const at = i === null || i === undefined ? null : u.data[0][i];
    legend.querySelector(".time").textContent = at === null ? "" : `t = ${figure(at)} s`;
    const outputs = legend.querySelectorAll(".entry output");
    state.windows.forEach((w, k) => {
      if (!outputs[k]) return;
      const upper = at === null ? null : u.data[1 + 2 * k][i], lower = at === null ? null : u.data[2 + 2 * k][i];
      outputs[k].textContent = upper === null || upper === undefined ? ""
        : upper === lower ? `= ${figure(upper)}` : `${figure(lower)} … ${figure(upper)}`;
    });
  }

  // CSV and NPY of the channels over the window on screen, as the values route gives them.
  function exportLinks() {
    const view = state.view;
    const base = state.path.split("/").pop().replace(/\.[^.]*$/, "") + `-${state.plotted.join("-")}`;
    for (const format of ["csv", "npy"]) {
      const link = $(`export-${format}`);
      link.href = "api/values?" + query(Object.assign({ path: state.path, channel: state.plotted.join(","), format },
                                                      view ? { from: view.from, to: view.to } : {}));
      link.download = `${base}.${format}`;
    }
  }

  // Counts the coloured pixels of the plot, its channels' lines and bands (axes and grid are
  // grey), once the canvas is drawn.
  function countInk(u) {
    if (!state.inkDue) return;  // once per new data: reading the canvas back is slow
    state.inkDue = false;
    const canvas = u.ctx.canvas;
    const pixels = u.ctx.getImageData(0, 0, canvas.width, canvas.height).data;
    let ink = 0;
    for (let i = 0; i < pixels.length; i += 4) {
      const r = pixels[i], g = pixels[i + 1], b = pixels[i + 2];
      if (pixels[i + 3] > 0 && Math.max(r, g, b) - Math.min(r, g, b) > 40) ink++;
    }
    document.body.dataset.ink = ink;
    document.body.dataset.drawMs = Math.round(performance.now() - state.drawStart);
    setState("drawn");
  }

  // The plot as shown, on white, with the file and the channels above it.
  function downloadPng() {
    if (!state.plot) return;
    const source = state.plot.ctx.canvas;
    const scale = source.width / state.plot.width;
    const head = Math.round(24 * scale);
    const canvas = document.createElement("canvas");
    canvas.width = source.width;
    canvas.height = source.height + head;
    const g = canvas.getContext("2d");
    g.fillStyle = "#fff";
    g.fillRect(0, 0, canvas.width, canvas.height);
    g.font = `${Math.round(13 * scale)}px system-ui, "DejaVu Sans", sans-serif`;
    g.textBaseline = "middle";
    let x = 8 * scale;
    const y = head / 2;
    g.fillStyle = "#1d232a";
    g.fillText(state.path, x, y);
    x += g.measureText(state.path).width + 16 * scale;
    for (const number of state.plotted) {
      const channel = state.listing.channels[number - 1];
      const text = `${number} ${channel.label} [${channel.unit}]`;
      g.fillStyle = colorOf(number);
      g.fillText(text, x, y);
      x += g.measureText(text).width + 14 * scale;
    }
    g.drawImage(source, 0, head);
    const link = document.createElement("a");
    link.download = state.path.split("/").pop().replace(/\.[^.]*$/, "") + `-${state.plotted.join("-")}.png`;
    link.href = canvas.toDataURL("image/png");
    link.click();
  }

  // ---- wiring -----------------------------------------------------------------------

  $("whole").addEventListener("click", () => { if (state.full) setView(state.full.from, state.full.to); });
  $("zoom-out").addEventListener("click", () => zoom(2));
  $("zoom-in").addEventListener("click", () => zoom(0.5));
  $("pan-left").addEventListener("click", () => pan(-0.25));
  $("pan-right").addEventListener("click", () => pan(0.25));
  $("png").addEventListener("click", downloadPng);
  $("stats-button").addEventListener("click", () => showStats().catch(fail));
  $("stats-close").addEventListener("click", () => { $("stats-panel").hidden = true; });
  let findTimer = 0;
  $("find").addEventListener("input", () => {
    clearTimeout(findTimer);
    findTimer = setTimeout(() => findFiles().catch(fail), 150);
  });
  document.addEventListener("keydown", (event) => {
    if (event.target instanceof HTMLInputElement || event.target instanceof HTMLSelectElement || event.ctrlKey || event.metaKey || event.altKey) return;
    const actions = { ArrowLeft: () => pan(-0.25), ArrowRight: () => pan(0.25), "+": () => zoom(0.5),
                      "-": () => zoom(2), Home: () => state.full && setView(state.full.from, state.full.to) };
    if (actions[event.key]) {
      event.preventDefault();
      actions[event.key]();
    }
  });
  let resizeTimer = 0;
  window.addEventListener("resize", () => {
    clearTimeout(resizeTimer);
    resizeTimer = setTimeout(() => {
      if (!state.plot) return;
      state.plot.setSize({ width: plotWidth(), height: PLOT_HEIGHT });
      draw().catch(fail);
    }, 200);
  });
  window.addEventListener("hashchange", applyHash);
  window.addEventListener("popstate", applyHash);
  // For scripts and tests: the plot (uPlot) as drawn.
  window.nodraViewer = { plot: () => state.plot };

  (async function boot() {
    try {
      const doc = await listFiles();
      const hash = readHash();
      let path = hash.file;
      if (!path) {
        const first = doc.access_points.find((p) => p.files.length > 0);
        path = first ? first.files[0].path : null;
      }
      if (path) await openFile(path, hash.channels, hash.view, false);
    } catch (error) {
      fail(error);
    }
  })();
})();
