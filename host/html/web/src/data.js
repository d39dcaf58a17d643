// Reads the capture the page carries (JSON with base64 varint-coded
// positions and values) into typed arrays, and formats values and times.

import { FdField } from 'fd-fields';

function bytes(base64) {
  const text = atob(base64);
  const out = new Uint8Array(text.length);
  for (let i = 0; i < text.length; i++) out[i] = text.charCodeAt(i);
  return out;
}

// Fills `out` with the base64 string's varints (seven bits a byte, low
// group first), each passed through `each`.
function readVarints(base64, out, each) {
  const b = bytes(base64);
  let at = 0;
  for (let n = 0; n < out.length && at < b.length; n++) {
    let value = 0;
    let scale = 1;
    let byte;
    do {
      byte = b[at++];
      value += (byte & 0x7f) * scale;
      scale *= 128;
    } while (byte & 0x80);
    out[n] = each(value);
  }
  return out;
}

// Ascending positions from their deltas.
export function readPositions(base64, count) {
  let last = 0;
  return readVarints(base64, new Uint32Array(count), (delta) => (last += delta));
}

// Zigzag-coded signed values (exact up to 2^53).
export function readSigned(base64, count) {
  return readVarints(base64, new Float64Array(count), (v) => (v % 2 === 0 ? v / 2 : -(v + 1) / 2));
}

export function readBytes(base64, count) {
  return bytes(base64).subarray(0, count);
}

// First index whose position is greater than p.
export function upperBound(array, p, from = 0, to = array.length) {
  let lo = from;
  let hi = to;
  while (lo < hi) {
    const mid = (lo + hi) >>> 1;
    if (array[mid] <= p) lo = mid + 1;
    else hi = mid;
  }
  return lo;
}

// First index whose position is p or more.
export function lowerBound(array, p, from = 0, to = array.length) {
  let lo = from;
  let hi = to;
  while (lo < hi) {
    const mid = (lo + hi) >>> 1;
    if (array[mid] < p) lo = mid + 1;
    else hi = mid;
  }
  return lo;
}

// A record's value in the radix the plug-in asks for (as cfdecode prints it).
export function formatValue(value, field) {
  let width = field.width;
  if (width === 0) {
    if (field.id !== FdField.Compose) return '';
    width = 32;
  }
  let bits = value;
  if (width < 53) {
    const modulus = 2 ** width;
    bits = ((value % modulus) + modulus) % modulus;
  } else if (bits < 0) {
    bits += 2 ** 64;
  }
  switch (field.radix) {
    case 0:
      return bits.toString(2).padStart(width, '0');
    case 1:
      return String(bits);
    case 3: {
      let text = "'";
      for (let i = 0; i < width / 8; i++) {
        const c = Math.floor(bits / 2 ** (8 * i)) & 0xff;
        text += c >= 0x20 && c < 0x7f ? String.fromCharCode(c) : '.';
      }
      return text + "'";
    }
    default:
      return '0x' + bits.toString(16).toUpperCase().padStart((width + 3) >> 2, '0');
  }
}

// A time for people: "1.25 us"; positions when the sample period is unknown.
export function formatTime(position, secondsPerPosition) {
  if (!secondsPerPosition) return `@${Math.round(position)}`;
  const seconds = position * secondsPerPosition;
  const abs = Math.abs(seconds);
  const units = [
    [1, 's'],
    [1e-3, 'ms'],
    [1e-6, 'us'],
    [1e-9, 'ns'],
  ];
  for (const [scale, unit] of units) {
    if (abs >= scale || scale === 1e-9) {
      const v = seconds / scale;
      return `${Number(v.toPrecision(6))} ${unit}`;
    }
  }
  return `${seconds} s`;
}

export function loadCapture(json) {
  const signals = json.signals.map((s) => ({
    name: s.name,
    initial: s.initial,
    changes: readPositions(s.changes, s.count),
  }));
  const fields = new Map();
  const fieldList = json.fields.map((f) => {
    const field = { ...f };
    fields.set(f.id, field);
    return field;
  });
  const count = json.records.count;
  const records = {
    count,
    positions: readPositions(json.records.positions, count),
    kinds: readBytes(json.records.kinds, count),
    values: readSigned(json.records.values, count),
  };
  const bus = json.dataBus
    ? {
        positions: readPositions(json.dataBus.positions, json.dataBus.count),
        values: readSigned(json.dataBus.values, json.dataBus.count + 1), // the word before the first change first
      }
    : null;
  const timing = json.timing;
  const warnings = {
    positions: readPositions(timing.positions, timing.list.length),
    list: timing.list,
    parameters: timing.parameters,
    notes: timing.notes,
  };
  const transactions = json.transactions.map((t, index) => ({
    index,
    start: t[0],
    end: t[1],
    name: t[2],
    verdict: t[3],
    summary: t[4],
    warnings: 0,
  }));
  // Timing warnings inside each transaction, for the filter.
  for (const t of transactions) {
    t.warnings = upperBound(warnings.positions, t.end) - lowerBound(warnings.positions, t.start);
  }
  let endPosition = json.endPosition || 0;
  for (const s of signals) if (s.changes.length) endPosition = Math.max(endPosition, s.changes[s.changes.length - 1]);
  if (count) endPosition = Math.max(endPosition, records.positions[count - 1]);
  return {
    title: json.title,
    secondsPerPosition: json.secondsPerPosition || 0,
    samplePeriodNs: json.samplePeriodNs || 0,
    endPosition: Math.max(endPosition, 1),
    signals,
    fields,
    fieldList,
    records,
    bus,
    transactions,
    warnings,
  };
}
