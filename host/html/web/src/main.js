// The timeline page: reads the capture embedded in the page, lays out the
// waveform and the side list, and wires zoom, pan, search and filters.
// window.fdTimeline lets tests (and curious users) drive the page.
import css from './style.css';
import { formatTime, loadCapture } from './data.js';
import { TimelineView } from './view.js';

const ROW = 40;

function element(tag, attributes = {}, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(attributes)) {
    if (key === 'class') node.className = value;
    else node.setAttribute(key, value);
  }
  for (const child of children) node.append(child);
  return node;
}

function start() {
  const style = document.createElement('style');
  style.textContent = css;
  document.head.append(style);
  const loadStarted = performance.now();
  const capture = loadCapture(JSON.parse(document.getElementById('fd-data').textContent));
  const spp = capture.secondsPerPosition;

  // Layout.
  const canvas = element('canvas', { id: 'fd-canvas' });
  const plot = element('div', { id: 'fd-plot', tabindex: '0' }, canvas);
  const button = (label, title, action) => {
    const b = element('button', { title }, label);
    b.addEventListener('click', action);
    return b;
  };
  const info = element('span', { class: 'fd-info', id: 'fd-info' });
  const toolbar = element('div', { id: 'fd-toolbar' }, element('h1', {}, capture.title || 'capture'));
  const main = element('div', { id: 'fd-main' }, toolbar, plot);
  const search = element('input', { id: 'fd-search', type: 'search', placeholder: 'Search: command, LBA, status, parameter…' });
  const verdict = element('select', { id: 'fd-verdict', title: 'Verdict' });
  for (const v of ['all verdicts', 'ok', 'error', 'icrc error', 'aborted', 'reset', 'incomplete']) verdict.append(element('option', { value: v }, v));
  const warnedOnly = element('input', { type: 'checkbox', id: 'fd-warned' });
  const warnedLabel = element('label', {}, warnedOnly, ' with timing warnings');
  const tabTransactions = element('button', { id: 'fd-tab-transactions', class: 'fd-active' }, `Transactions (${capture.transactions.length})`);
  const tabWarnings = element('button', { id: 'fd-tab-warnings' }, `Timing warnings (${capture.warnings.positions.length})`);
  const count = element('div', { id: 'fd-count' });
  const spacer = element('div', { style: 'height:0' });
  const list = element('div', { id: 'fd-list' }, spacer);
  const notes = element('div', { id: 'fd-notes' });
  for (const [position, text] of capture.warnings.notes) notes.append(element('div', {}, `⚠ ${text}`));
  if (!capture.warnings.notes.length) notes.style.display = 'none';
  const help = element('div', { id: 'fd-help' }, 'Wheel or +/- zooms, drag, shift+wheel or arrows pan, F fits, click a row to go there.');
  const side = element('div', { id: 'fd-side' }, element('div', { id: 'fd-tabs' }, tabTransactions, tabWarnings),
    element('div', { id: 'fd-filters' }, search, verdict, warnedLabel), count, list, notes, help);
  document.body.append(element('div', { id: 'fd-app' }, main, side));

  const view = new TimelineView(canvas, capture);
  toolbar.append(
    button('−', 'Zoom out (-)', () => view.zoom(2)),
    button('+', 'Zoom in (+)', () => view.zoom(0.5)),
    button('Fit', 'Show the whole capture (F)', () => view.fit()),
    info,
  );
  const updateInfo = () => {
    info.textContent = `${formatTime(view.start, spp)} – ${formatTime(view.end, spp)} · ${capture.records.count.toLocaleString('en')} records · ` +
      (capture.samplePeriodNs ? `sample period ${Number(capture.samplePeriodNs.toPrecision(4))} ns` : 'sample period unknown');
  };
  view.onchange = updateInfo;

  // The list: transactions or warnings, filtered, drawn a screenful at a time.
  let mode = 'transactions';
  let rows = [];
  let selectedRow = -1;
  const warningRows = capture.warnings.list.map(([parameter, measured, detail], i) => {
    const [key, meaning, allowed, bound = 'at least'] = capture.warnings.parameters[parameter];
    // A finding with a limit says the measured and the allowed time; one without (a burst CRC) what was found.
    const sub = detail !== undefined ? `${meaning}: ${detail}` : `${meaning}: ${Number(measured.toPrecision(4))} ns, ${bound} ${allowed} ns`;
    return { index: i, position: capture.warnings.positions[i], key, meaning, measured, allowed, sub,
      text: `${key} ${sub}`.toLowerCase() };
  });
  for (const t of capture.transactions) t.text = `${t.name} ${t.summary} ${t.verdict}`.toLowerCase();

  const applyFilters = () => {
    const words = search.value.toLowerCase().split(/\s+/).filter(Boolean);
    const matches = (text) => words.every((w) => text.includes(w));
    if (mode === 'transactions') {
      const v = verdict.value;
      rows = capture.transactions.filter((t) => (v === 'all verdicts' || t.verdict === v) && (!warnedOnly.checked || t.warnings > 0) && matches(t.text));
    } else {
      rows = words.length ? warningRows.filter((w) => matches(w.text)) : warningRows;
    }
    count.textContent = `${rows.length.toLocaleString('en')} shown`;
    selectedRow = -1;
    spacer.style.height = rows.length * ROW + 'px';
    list.scrollTop = 0;
    drawRows();
  };

  const drawRows = () => {
    for (const node of [...list.querySelectorAll('.fd-row')]) node.remove();
    const first = Math.floor(list.scrollTop / ROW);
    const last = Math.min(rows.length, first + Math.ceil(list.clientHeight / ROW) + 2);
    for (let i = first; i < last; i++) {
      const r = rows[i];
      let row;
      if (mode === 'transactions') {
        row = element('div', { class: 'fd-row', 'data-index': String(i) },
          element('span', { class: 'fd-when' }, formatTime(r.start, spp)),
          element('span', { class: 'fd-name' }, r.name),
          element('span', { class: `fd-verdict fd-v-${r.verdict.replace(/ /g, '-')}` }, r.verdict));
        if (r.warnings) row.append(element('span', { class: 'fd-warn' }, `⚠ ${r.warnings}`));
        row.append(element('div', { class: 'fd-sub' }, r.summary));
      } else {
        row = element('div', { class: 'fd-row', 'data-index': String(i) },
          element('span', { class: 'fd-when' }, formatTime(r.position, spp)),
          element('span', { class: 'fd-name' }, r.key),
          element('div', { class: 'fd-sub' }, r.sub));
      }
      if (i === selectedRow) row.classList.add('fd-selected');
      row.style.top = i * ROW + 'px';
      list.append(row);
    }
  };

  const goToRow = (i) => {
    const r = rows[i];
    if (!r) return;
    selectedRow = i;
    if (mode === 'transactions') {
      view.selected = { start: r.start, end: r.end, transaction: r };
      view.marker = null;
      view.show(r.start, r.end);
    } else {
      view.selected = null;
      view.marker = r.position;
      const span = spp ? Math.max(40, 400e-9 / spp) : 400;
      view.setView(r.position - span / 2, r.position + span / 2);
    }
    drawRows();
  };

  list.addEventListener('scroll', drawRows);
  list.addEventListener('click', (event) => {
    const row = event.target.closest('.fd-row');
    if (row) goToRow(Number(row.dataset.index));
  });
  search.addEventListener('input', applyFilters);
  verdict.addEventListener('change', applyFilters);
  warnedOnly.addEventListener('change', applyFilters);
  const setMode = (m) => {
    mode = m;
    tabTransactions.classList.toggle('fd-active', m === 'transactions');
    tabWarnings.classList.toggle('fd-active', m === 'warnings');
    verdict.disabled = warnedOnly.disabled = m !== 'transactions';
    applyFilters();
  };
  tabTransactions.addEventListener('click', () => setMode('transactions'));
  tabWarnings.addEventListener('click', () => setMode('warnings'));

  // Mouse and keyboard on the waveform.
  canvas.addEventListener('wheel', (event) => {
    event.preventDefault();
    const x = event.offsetX;
    if (event.shiftKey || Math.abs(event.deltaX) > Math.abs(event.deltaY)) {
      view.pan((event.deltaX || event.deltaY) / 600);
    } else {
      view.zoom(Math.exp(event.deltaY * 0.0025), x);
    }
  }, { passive: false });
  let drag = null;
  canvas.addEventListener('mousedown', (event) => {
    drag = { x: event.clientX, start: view.start, end: view.end };
    canvas.style.cursor = 'grabbing';
    plot.focus();
  });
  window.addEventListener('mouseup', () => {
    drag = null;
    canvas.style.cursor = 'grab';
  });
  window.addEventListener('mousemove', (event) => {
    if (drag) {
      const shift = ((drag.x - event.clientX) / view.plotWidth) * (drag.end - drag.start);
      view.setView(drag.start + shift, drag.end + shift);
    }
  });
  canvas.addEventListener('mousemove', (event) => {
    view.hover = event.offsetX > 118 ? view.positionAt(event.offsetX) : null;
    view.requestRender();
  });
  canvas.addEventListener('mouseleave', () => {
    view.hover = null;
    view.requestRender();
  });
  plot.addEventListener('keydown', (event) => {
    const keys = {
      '+': () => view.zoom(0.5), '=': () => view.zoom(0.5), '-': () => view.zoom(2), _: () => view.zoom(2),
      ArrowLeft: () => view.pan(-0.2), ArrowRight: () => view.pan(0.2), f: () => view.fit(), F: () => view.fit(),
      Home: () => view.setView(0, view.end - view.start),
      End: () => view.setView(capture.endPosition - (view.end - view.start), capture.endPosition),
    };
    if (keys[event.key]) {
      event.preventDefault();
      keys[event.key]();
    }
  });
  window.addEventListener('resize', () => view.resize());

  view.resize();
  view.fit();
  applyFilters();
  updateInfo();
  plot.focus();

  window.fdTimeline = {
    capture,
    view,
    loadMs: performance.now() - loadStarted,
    get range() {
      return { start: view.start, end: view.end };
    },
    rows: () => rows,
    goToRow,
    lastRenderMs: () => view.lastRenderMs,
    // Resolves after the next frame is drawn.
    frame: () => new Promise((resolve) => requestAnimationFrame(() => requestAnimationFrame(resolve))),
  };
  document.body.dataset.ready = 'true';
}

if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', start);
else start();
