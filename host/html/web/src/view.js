// The waveform canvas: a time ruler, the transactions, the timing warnings,
// the plug-in's records by lane, the data bus and the 26 signals. Draws only
// what is in view; where more changes or records fall on one pixel than can
// be told apart, it draws one mark per pixel column instead, as waveform
// viewers do.
import { formatTime, formatValue, lowerBound, upperBound } from './data.js';

const LABEL_WIDTH = 118;
const RULER = 26;
const VERDICT_COLOURS = {
  ok: '#2e7d32',
  error: '#c62828',
  'icrc error': '#ad1457',
  aborted: '#ef6c00',
  reset: '#6a1b9a',
  incomplete: '#757575',
};
const FONT = '11px system-ui, "DejaVu Sans", sans-serif';
const MONO = '11px "DejaVu Sans Mono", monospace';

export class TimelineView {
  constructor(canvas, capture) {
    this.canvas = canvas;
    this.ctx = canvas.getContext('2d');
    this.capture = capture;
    this.start = 0;
    this.end = capture.endPosition;
    this.selected = null; // {start, end}
    this.marker = null; // a position to mark (a warning)
    this.hover = null;
    this.pending = false;
    this.lastRenderMs = 0;
    this.onchange = null;
    this.buildLanes();
  }

  buildLanes() {
    const c = this.capture;
    const lanes = [];
    lanes.push({ kind: 'transactions', name: 'Transactions', height: 24 });
    lanes.push({ kind: 'warnings', name: 'Timing', height: 20 });
    // Records by lane name, only the kinds the plug-in shows.
    const groups = new Map();
    for (const field of c.fieldList) {
      if (!field.shown) continue;
      if (!groups.has(field.lane)) groups.set(field.lane, []);
      groups.get(field.lane).push(field);
    }
    const kindLane = new Int16Array(c.fieldList.length).fill(-1);
    const laneNames = ['Task file', 'Data', 'Markers'].filter((name) => groups.has(name));
    laneNames.forEach((name, laneIndex) => {
      for (const field of groups.get(name)) kindLane[c.fieldList.indexOf(field)] = laneIndex;
    });
    const counts = new Uint32Array(laneNames.length);
    for (let i = 0; i < c.records.count; i++) {
      const lane = kindLane[c.records.kinds[i]];
      if (lane >= 0) counts[lane]++;
    }
    const recordLanes = laneNames.map((name, i) => ({
      kind: 'records',
      name,
      height: 22,
      positions: new Uint32Array(counts[i]),
      index: new Uint32Array(counts[i]),
      fill: 0,
    }));
    for (let i = 0; i < c.records.count; i++) {
      const lane = recordLanes[kindLane[c.records.kinds[i]]];
      if (!lane) continue;
      lane.positions[lane.fill] = c.records.positions[i];
      lane.index[lane.fill++] = i;
    }
    for (const lane of recordLanes) {
      // A record's box ends at the next one, or after the lane's typical gap.
      const gaps = [];
      const step = Math.max(1, Math.floor(lane.fill / 2000));
      for (let i = 1; i < lane.fill; i += step) gaps.push(lane.positions[i] - lane.positions[i - 1]);
      gaps.sort((a, b) => a - b);
      lane.typicalGap = Math.max(1, gaps.length ? gaps[Math.floor(gaps.length / 2)] : 10);
      lanes.push(lane);
    }
    if (c.bus) lanes.push({ kind: 'bus', name: 'D[15:0]', height: 20 });
    for (const signal of c.signals) lanes.push({ kind: 'signal', name: signal.name, signal, height: 15 });
    let y = RULER;
    for (const lane of lanes) {
      lane.y = y;
      y += lane.height;
    }
    this.lanes = lanes;
    this.contentHeight = y + 4;
  }

  // Positions per pixel and the position at an x.
  get plotWidth() {
    return Math.max(1, this.width - LABEL_WIDTH);
  }
  xOf(position) {
    return LABEL_WIDTH + ((position - this.start) / (this.end - this.start)) * this.plotWidth;
  }
  positionAt(x) {
    return this.start + ((x - LABEL_WIDTH) / this.plotWidth) * (this.end - this.start);
  }

  setView(start, end) {
    const total = this.capture.endPosition;
    const minimum = 8;
    let span = Math.max(minimum, Math.min(end - start, total * 1.05 + minimum));
    let s = start;
    if (s + span > total + span * 0.5) s = total + span * 0.5 - span;
    if (s < -span * 0.5) s = -span * 0.5;
    this.start = s;
    this.end = s + span;
    this.requestRender();
    if (this.onchange) this.onchange();
  }

  zoom(factor, anchorX) {
    const anchor = anchorX === undefined ? (this.start + this.end) / 2 : this.positionAt(anchorX);
    const span = (this.end - this.start) * factor;
    const fraction = (anchor - this.start) / (this.end - this.start);
    this.setView(anchor - fraction * span, anchor - fraction * span + span);
  }

  pan(fraction) {
    const shift = (this.end - this.start) * fraction;
    this.setView(this.start + shift, this.end + shift);
  }

  fit() {
    this.setView(0, this.capture.endPosition);
  }

  // Shows [start, end] with a margin.
  show(start, end) {
    const span = Math.max(end - start, 40);
    const margin = span * 0.08;
    this.setView(start - margin - (span - (end - start)) / 2, start - margin - (span - (end - start)) / 2 + span + 2 * margin);
  }

  resize() {
    const ratio = window.devicePixelRatio || 1;
    const rect = this.canvas.parentElement.getBoundingClientRect();
    this.width = Math.floor(rect.width);
    this.height = Math.max(Math.floor(rect.height), this.contentHeight);
    this.canvas.width = this.width * ratio;
    this.canvas.height = this.height * ratio;
    this.canvas.style.width = this.width + 'px';
    this.canvas.style.height = this.height + 'px';
    this.ctx.setTransform(ratio, 0, 0, ratio, 0, 0);
    this.render();
  }

  requestRender() {
    if (this.pending) return;
    this.pending = true;
    requestAnimationFrame(() => {
      this.pending = false;
      this.render();
    });
  }

  render() {
    const t0 = performance.now();
    const ctx = this.ctx;
    ctx.fillStyle = '#ffffff';
    ctx.fillRect(0, 0, this.width, this.height);
    for (const lane of this.lanes) {
      ctx.save();
      ctx.beginPath();
      ctx.rect(LABEL_WIDTH, lane.y, this.plotWidth, lane.height);
      ctx.clip();
      if (lane.kind === 'signal') this.drawSignal(lane);
      else if (lane.kind === 'records') this.drawRecords(lane);
      else if (lane.kind === 'transactions') this.drawTransactions(lane);
      else if (lane.kind === 'warnings') this.drawWarnings(lane);
      else if (lane.kind === 'bus') this.drawBus(lane);
      ctx.restore();
    }
    this.drawSelection();
    this.drawLabels();
    this.drawRuler();
    this.lastRenderMs = performance.now() - t0;
  }

  drawLabels() {
    const ctx = this.ctx;
    ctx.fillStyle = '#eceff1';
    ctx.fillRect(0, 0, LABEL_WIDTH, this.height);
    ctx.font = FONT;
    ctx.textBaseline = 'middle';
    for (const lane of this.lanes) {
      ctx.fillStyle = lane.kind === 'signal' ? '#37474f' : '#0d47a1';
      ctx.font = lane.kind === 'signal' ? MONO : 'bold ' + FONT;
      ctx.fillText(lane.name, 8, lane.y + lane.height / 2);
      ctx.strokeStyle = '#e0e0e0';
      ctx.beginPath();
      ctx.moveTo(0, lane.y + lane.height - 0.5);
      ctx.lineTo(this.width, lane.y + lane.height - 0.5);
      ctx.stroke();
    }
    ctx.strokeStyle = '#b0bec5';
    ctx.beginPath();
    ctx.moveTo(LABEL_WIDTH - 0.5, 0);
    ctx.lineTo(LABEL_WIDTH - 0.5, this.height);
    ctx.stroke();
  }

  drawRuler() {
    const ctx = this.ctx;
    const spp = this.capture.secondsPerPosition;
    ctx.fillStyle = '#263238';
    ctx.fillRect(0, 0, this.width, RULER);
    const span = this.end - this.start;
    const perPixel = span / this.plotWidth;
    // A step of 1, 2 or 5 x 10^n units at least 90 pixels apart.
    const unit = spp || 1;
    const raw = perPixel * 90 * unit;
    const power = Math.pow(10, Math.floor(Math.log10(raw)));
    const step = ([1, 2, 5, 10].map((m) => m * power).find((v) => v >= raw) || 10 * power) / unit;
    ctx.font = FONT;
    ctx.textBaseline = 'middle';
    ctx.strokeStyle = '#90a4ae';
    ctx.fillStyle = '#eceff1';
    const first = Math.ceil(this.start / step) * step;
    for (let p = first; p <= this.end; p += step) {
      const x = Math.round(this.xOf(p)) + 0.5;
      if (x < LABEL_WIDTH) continue;
      ctx.beginPath();
      ctx.moveTo(x, RULER - 8);
      ctx.lineTo(x, RULER);
      ctx.stroke();
      ctx.fillText(formatTime(p, spp), x + 3, RULER / 2 - 1);
    }
    ctx.fillStyle = '#263238';
    ctx.fillRect(0, 0, LABEL_WIDTH, RULER);
    ctx.fillStyle = '#ffffff';
    ctx.font = 'bold ' + FONT;
    const text = this.hover !== null ? formatTime(this.hover, spp) : formatTime(span, spp) + ' wide';
    ctx.fillText(text, 6, RULER / 2);
  }

  drawSelection() {
    const ctx = this.ctx;
    if (this.selected) {
      const x0 = Math.max(LABEL_WIDTH, this.xOf(this.selected.start));
      const x1 = Math.min(this.width, this.xOf(this.selected.end));
      if (x1 >= LABEL_WIDTH && x0 <= this.width) {
        ctx.fillStyle = 'rgba(255, 193, 7, 0.12)';
        ctx.fillRect(x0, RULER, Math.max(2, x1 - x0), this.height - RULER);
      }
    }
    if (this.marker !== null) {
      const x = this.xOf(this.marker);
      ctx.strokeStyle = 'rgba(211, 47, 47, 0.8)';
      ctx.setLineDash([4, 3]);
      ctx.beginPath();
      ctx.moveTo(x, RULER);
      ctx.lineTo(x, this.height);
      ctx.stroke();
      ctx.setLineDash([]);
    }
    if (this.hover !== null) {
      const x = Math.round(this.xOf(this.hover)) + 0.5;
      ctx.strokeStyle = 'rgba(21, 101, 192, 0.5)';
      ctx.beginPath();
      ctx.moveTo(x, RULER);
      ctx.lineTo(x, this.height);
      ctx.stroke();
    }
  }

  drawSignal(lane) {
    const ctx = this.ctx;
    const changes = lane.signal.changes;
    const top = lane.y + 3;
    const bottom = lane.y + lane.height - 3;
    const first = upperBound(changes, this.start);
    const last = upperBound(changes, this.end);
    let level = (lane.signal.initial ^ (first & 1)) & 1;
    ctx.strokeStyle = '#1b5e20';
    ctx.lineWidth = 1;
    ctx.beginPath();
    if (last - first < this.plotWidth / 2) {
      let x = LABEL_WIDTH;
      ctx.moveTo(x, level ? top : bottom);
      for (let i = first; i < last; i++) {
        const cx = Math.round(this.xOf(changes[i])) + 0.5;
        ctx.lineTo(cx, level ? top : bottom);
        level ^= 1;
        ctx.lineTo(cx, level ? top : bottom);
        x = cx;
      }
      ctx.lineTo(this.width, level ? top : bottom);
      ctx.stroke();
      return;
    }
    // Dense: per pixel column, a full-height mark where it changes.
    let i = first;
    const perPixel = (this.end - this.start) / this.plotWidth;
    ctx.fillStyle = '#66bb6a';
    for (let x = LABEL_WIDTH; x < this.width; x++) {
      const columnEnd = this.start + (x + 1 - LABEL_WIDTH) * perPixel;
      const j = upperBound(changes, columnEnd, i, last);
      if (j > i) {
        ctx.fillRect(x, top, 1, bottom - top);
        level ^= (j - i) & 1;
      } else {
        ctx.fillRect(x, level ? top : bottom, 1, 1);
      }
      i = j;
    }
  }

  drawBus(lane) {
    const ctx = this.ctx;
    const bus = this.capture.bus;
    const top = lane.y + 3;
    const bottom = lane.y + lane.height - 3;
    const mid = (top + bottom) / 2;
    const first = upperBound(bus.positions, this.start);
    const last = upperBound(bus.positions, this.end);
    ctx.strokeStyle = '#4a148c';
    ctx.fillStyle = '#4a148c';
    ctx.font = MONO;
    ctx.textBaseline = 'middle';
    if (last - first > this.plotWidth / 3) {
      // Dense: the bus changes faster than values can be read.
      let i = first;
      const perPixel = (this.end - this.start) / this.plotWidth;
      ctx.fillStyle = '#ce93d8';
      for (let x = LABEL_WIDTH; x < this.width; x++) {
        const j = upperBound(bus.positions, this.start + (x + 1 - LABEL_WIDTH) * perPixel, i, last);
        if (j > i) ctx.fillRect(x, top, 1, bottom - top);
        else ctx.fillRect(x, top, 1, 1), ctx.fillRect(x, bottom, 1, 1);
        i = j;
      }
      return;
    }
    for (let i = first - 1; i < last; i++) {
      const from = i < 0 ? this.start : Math.max(this.start, bus.positions[i]);
      const to = i + 1 < bus.positions.length ? Math.min(this.end, bus.positions[i + 1]) : this.end;
      const x0 = this.xOf(from);
      const x1 = this.xOf(to);
      ctx.beginPath();
      ctx.moveTo(x0 + 2, top);
      ctx.lineTo(x1 - 2, top);
      ctx.lineTo(x1, mid);
      ctx.lineTo(x1 - 2, bottom);
      ctx.lineTo(x0 + 2, bottom);
      ctx.lineTo(x0, mid);
      ctx.closePath();
      ctx.stroke();
      const text = bus.values[i + 1].toString(16).toUpperCase().padStart(4, '0');
      if (x1 - x0 > 34) ctx.fillText(text, Math.max(x0, LABEL_WIDTH) + 5, mid);
    }
  }

  drawRecords(lane) {
    const ctx = this.ctx;
    const c = this.capture;
    const positions = lane.positions;
    const cap = lane.typicalGap;
    const first = Math.max(0, upperBound(positions, this.start - cap) - 1);
    const last = upperBound(positions, this.end);
    const top = lane.y + 2;
    const height = lane.height - 4;
    ctx.font = FONT;
    ctx.textBaseline = 'middle';
    if (last - first > this.plotWidth / 4) {
      // Dense: one bar per pixel column in the colour of its first record.
      let i = first;
      const perPixel = (this.end - this.start) / this.plotWidth;
      for (let x = LABEL_WIDTH; x < this.width; x++) {
        const j = upperBound(positions, this.start + (x + 1 - LABEL_WIDTH) * perPixel, i, last);
        if (j > i) {
          const field = c.fieldList[c.records.kinds[lane.index[i]]];
          ctx.fillStyle = field.colour;
          ctx.fillRect(x, top, 1, height);
        }
        i = j;
      }
      return;
    }
    for (let i = first; i < last; i++) {
      const record = lane.index[i];
      const field = c.fieldList[c.records.kinds[record]];
      const p = positions[i];
      const next = i + 1 < positions.length ? positions[i + 1] : p + cap;
      const x0 = this.xOf(p);
      const x1 = Math.max(x0 + 2, this.xOf(Math.min(next, p + cap)) - 1);
      ctx.fillStyle = field.colour;
      ctx.globalAlpha = 0.25;
      ctx.fillRect(x0, top, x1 - x0, height);
      ctx.globalAlpha = 1;
      ctx.fillRect(x0, top, 2, height);
      const width = x1 - x0 - 6;
      if (width > 14) {
        const value = formatValue(c.records.values[record], field);
        let text = value ? `${field.name} ${value}` : field.name;
        if (text.length * 6.2 > width) text = value || field.name;
        if (text.length * 6.2 > width) text = text.slice(0, Math.max(1, Math.floor(width / 6.2) - 1)) + '…';
        ctx.fillStyle = '#212121';
        ctx.fillText(text, Math.max(x0, LABEL_WIDTH) + 4, top + height / 2);
      }
    }
  }

  drawTransactions(lane) {
    const ctx = this.ctx;
    const list = this.capture.transactions;
    const top = lane.y + 2;
    const height = lane.height - 4;
    ctx.font = 'bold ' + FONT;
    ctx.textBaseline = 'middle';
    // Transactions are few and sorted by start: find the first in view.
    let lo = 0;
    let hi = list.length;
    while (lo < hi) {
      const mid = (lo + hi) >> 1;
      if (list[mid].start < this.start) lo = mid + 1;
      else hi = mid;
    }
    for (let i = Math.max(0, lo - 1); i < list.length && list[i].start <= this.end; i++) {
      const t = list[i];
      if (t.end < this.start) continue;
      const x0 = this.xOf(t.start);
      const x1 = Math.max(x0 + 3, this.xOf(t.end));
      const colour = VERDICT_COLOURS[t.verdict] || '#455a64';
      ctx.fillStyle = colour;
      ctx.globalAlpha = 0.18;
      ctx.fillRect(x0, top, x1 - x0, height);
      ctx.globalAlpha = 1;
      ctx.strokeStyle = colour;
      ctx.lineWidth = this.selected && this.selected.transaction === t ? 2.5 : 1;
      ctx.strokeRect(x0 + 0.5, top + 0.5, x1 - x0 - 1, height - 1);
      ctx.lineWidth = 1;
      const text = t.verdict === 'ok' ? t.name : `${t.name} (${t.verdict})`;
      const left = Math.max(x0, LABEL_WIDTH) + 4;
      const room = Math.min(x1, this.width) - left - 2;
      if (room > 20) {
        ctx.fillStyle = colour;
        ctx.fillText(text.length * 6.8 > room ? text.slice(0, Math.floor(room / 6.8)) + '…' : text, left, top + height / 2);
      }
    }
  }

  drawWarnings(lane) {
    const ctx = this.ctx;
    const w = this.capture.warnings;
    const first = upperBound(w.positions, this.start);
    const last = upperBound(w.positions, this.end);
    const top = lane.y + 2;
    const height = lane.height - 4;
    ctx.fillStyle = '#d32f2f';
    ctx.font = FONT;
    ctx.textBaseline = 'middle';
    if (last - first > this.plotWidth / 40) {
      let i = first;
      const perPixel = (this.end - this.start) / this.plotWidth;
      for (let x = LABEL_WIDTH; x < this.width; x++) {
        const j = upperBound(w.positions, this.start + (x + 1 - LABEL_WIDTH) * perPixel, i, last);
        if (j > i) ctx.fillRect(x, top, 1, height);
        i = j;
      }
      return;
    }
    let lastTextEnd = -1;
    for (let i = first; i < last; i++) {
      const x = this.xOf(w.positions[i]);
      ctx.beginPath();
      ctx.moveTo(x, top + height);
      ctx.lineTo(x - 4, top);
      ctx.lineTo(x + 4, top);
      ctx.closePath();
      ctx.fill();
      if (x + 6 > lastTextEnd) {
        const [parameter, measured, detail] = w.list[i];
        const key = w.parameters[parameter][0];
        const name = key.includes(' ') ? key.split(' ')[1] : key;
        const text = detail !== undefined ? name : `${name} ${Number(measured.toPrecision(4))} ns`;
        ctx.fillText(text, x + 6, top + height / 2);
        lastTextEnd = x + 6 + text.length * 6.2 + 6;
      }
    }
  }
}
