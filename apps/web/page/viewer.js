// The viewer page: lists the files of the access points, shows a file's annotations and
// channels, and draws channels against time with uPlot. Each view asks the server for at
// most as many points as the plot has pixel columns: min/max bands far out, the values
// themselves zoomed in. The hash (#file=AP/PATH&channels=1,4&from=T0&to=T1) names what is
// shown, so that a view can be bookmarked.
"use strict";

(function () {
  const MAX_WIDTH = 4096;  // the server's bound on points per window
  const PLOT_HEIGHT = 420;
  const COLORS = ["#1f6fb4", "#d1342b", "#2a9d3a", "#8e57c4", "#e07b10", "#13a3b5", "#8c564b", "#d0489b"];
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
  };

  const $ = (id) => document.getElementById(id);
  const setState = (name) => { document.body.dataset.state = name; };
  const showStatus = (text) => { $("status").textContent = text || ""; };
  const colorOf = (number) => COLORS[(number - 1) % COLORS.length];
  const query = (params) => new URLSearchParams(params).toString();
  const isNumber = (v) => typeof v === "number" && Number.isFinite(v);

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

  function writeHash() {
    const shown = { file: state.path, channels: state.plotted.join(",") };
    if (state.view) Object.assign(shown, { from: state.view.from, to: state.view.to });
    history.replaceState(null, "", "#" + query(shown));
  }

  // ---- files and channels -----------------------------------------------------------

  async function listFiles() {
    const doc = await getJson("api/files");
    const nav = $("files");
    nav.textContent = "";
    for (const point of doc.access_points) {
      nav.append(element("h3", point.name));
      if (point.error) nav.append(element("p", point.error, "error"));
      const list = element("ul");
      for (const file of point.files) {
        const link = element("a", file.name);
        link.href = "#" + query({ file: file.path });
        link.dataset.path = file.path;
        link.addEventListener("click", (event) => {
          event.preventDefault();
          openFile(file.path, [], null).catch(fail);
        });
        const item = element("li");
        item.append(link);
        list.append(item);
      }
      if (point.files.length === 0 && !point.error) list.append(element("li", "no files", "error"));
      nav.append(list);
    }
    setState("listed");
    return doc;
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
    for (const cell of $("channels").querySelectorAll("th.stat")) cell.hidden = true;
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
      const swatch = element("span", "", "swatch");
      swatch.style.background = colorOf(channel.number);
      const plotCell = element("td");
      plotCell.append(box, swatch);
      row.append(plotCell, element("td", channel.number, "number"), element("td", channel.label),
                 element("td", channel.unit), element("td", annotationText(byName.scale), "number"),
                 element("td", annotationText(byName.lower_limit), "number"),
                 element("td", annotationText(byName.upper_limit), "number"),
                 element("td", channel.values.count, "number"),
                 element("td", String(record.sampling_frequency), "number"), element("td", record.point),
                 element("td", DIRECTIONS[record.direction] || ""));
      for (let i = 0; i < 4; ++i) {
        const cell = element("td", "", "number stat");
        cell.hidden = true;
        row.append(cell);
      }
      body.append(row);
    }
    document.body.dataset.channels = listing.channels.length;
  }

  async function openFile(path, channels, view) {
    showStatus("opening " + path);
    const listing = await getJson("api/file?" + query({ path }));
    state.path = path;
    state.listing = listing;
    for (const link of document.querySelectorAll("nav a")) link.classList.toggle("open", link.dataset.path === path);
    $("file").hidden = false;
    $("file-title").textContent = `${path}: ${listing.channels.length} channels`;
    showListing(listing);
    setState("file");
    const known = channels.filter((n) => n <= listing.channels.length);
    state.plotted = known.length > 0 ? known : listing.channels.length > 0 ? [1] : [];
    state.plotted.sort((a, b) => a - b);
    for (const box of document.querySelectorAll("#channels input")) {
      box.checked = state.plotted.includes(Number(box.dataset.channel));
    }
    state.view = null;
    spanOfChannels();
    if (view && state.full) state.view = clampView(view.from, view.to);
    writeHash();
    showStatus("");
    await draw();
  }

  // Minimum, maximum, mean and RMS of every value of each channel, read where the file is.
  async function showStats() {
    const path = state.path;
    showStatus("reading every value…");
    const doc = await getJson("api/stats?" + query({ path }));
    if (path !== state.path) return;
    const figure = (v) => (typeof v === "number" ? String(Number(v.toPrecision(7))) : String(v));
    for (const row of doc.channels) {
      const cells = $("channels").querySelectorAll(`tbody tr:nth-child(${row.number}) td.stat`);
      [row.min, row.max, row.mean, row.rms].forEach((v, i) => { cells[i].textContent = figure(v); });
    }
    for (const cell of $("channels").querySelectorAll(".stat")) cell.hidden = false;
    showStatus("");
  }

  function toggleChannel(number, on) {
    state.plotted = state.plotted.filter((n) => n !== number);
    if (on) state.plotted.push(number);
    state.plotted.sort((a, b) => a - b);
    const view = state.view;
    spanOfChannels();
    if (view && state.full) state.view = clampView(view.from, view.to);
    writeHash();
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
    state.fetchTimer = setTimeout(() => draw().catch(fail), 120);
    writeHash();
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
    if (state.plotted.length === 0) {
      if (state.plot) state.plot.destroy();
      state.plot = null;
      state.plotKey = "";
      document.body.dataset.plotted = 0;
      document.body.dataset.ink = 0;
      $("window").textContent = "";
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
      const color = colorOf(w.channel);
      const scale = w.unit || "-";
      series.push({ label: `${w.channel} ${w.label} (max)`, stroke: color, width: 1, scale },
                  { label: `${w.channel} ${w.label} (min)`, stroke: color, width: 1, scale });
      bands.push({ series: [series.length - 2, series.length - 1], fill: color + "40" });
    }
    const scales = { x: { time: false, auto: false } };
    const axes = [{ label: "time [s]", labelSize: 20 }];
    units.forEach((unit, i) => {
      scales[unit] = {};
      axes.push({ scale: unit, label: unit, labelSize: 20, side: i % 2 === 0 ? 3 : 1, size: 64,
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
    const seconds = (t) => String(Number(t.toPrecision(6)));
    $("window").textContent = `${seconds(span.from)} s to ${seconds(span.to)} s, ${values} values: ` +
      (state.block > 1 ? `min and max of ${state.block} values per point` : "every value");
    document.body.dataset.plotted = windows.length;
    state.inkDue = true;
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
  $("stats").addEventListener("click", () => showStats().catch(fail));
  document.addEventListener("keydown", (event) => {
    if (event.target instanceof HTMLInputElement || event.ctrlKey || event.metaKey || event.altKey) return;
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
  window.addEventListener("hashchange", () => {
    const hash = readHash();
    if (hash.file && hash.file !== state.path) openFile(hash.file, hash.channels, hash.view).catch(fail);
  });

  (async function boot() {
    try {
      const doc = await listFiles();
      const hash = readHash();
      let path = hash.file;
      if (!path) {
        const first = doc.access_points.find((p) => p.files.length > 0);
        path = first ? first.files[0].path : null;
      }
      if (path) await openFile(path, hash.channels, hash.view);
    } catch (error) {
      fail(error);
    }
  })();
})();
