// The timeline page in headless Chromium (Debian's, driven by playwright-core):
// a synthesized capture with timing faults and a capture of a million
// records, each made by cfsim and written by cfdecode --html, are opened,
// zoomed by key and wheel, searched and clicked, and the view is checked
// after each action. Screenshots and the time of each action go to the
// output folder for people to look at.
//   node timeline_page_test.mjs CFSIM CFDECODE WEB_DIR OUT_DIR
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdirSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { join, resolve } from 'node:path';

const [cfsim, cfdecode, webDir, outDir] = process.argv.slice(2);
if (!outDir) {
  console.error('usage: node timeline_page_test.mjs CFSIM CFDECODE WEB_DIR OUT_DIR');
  process.exit(2);
}
mkdirSync(outDir, { recursive: true });
const { chromium } = createRequire(resolve(webDir, 'package.json'))('playwright-core');

function makePage(name, simArgs, decodeArgs = []) {
  const vcd = join(outDir, `${name}.vcd`);
  const html = join(outDir, `${name}.html`);
  execFileSync(cfsim, [...simArgs, '-o', vcd], { stdio: 'inherit' });
  execFileSync(cfdecode, [vcd, '--html', html, ...decodeArgs], { stdio: 'inherit' });
  return html;
}

const timings = {};
async function timed(label, action) {
  const started = performance.now();
  const result = await action();
  timings[label] = Math.round(performance.now() - started);
  return result;
}

async function open(browser, html, name) {
  const page = await browser.newPage({ viewport: { width: 1500, height: 900 } });
  const errors = [];
  page.on('pageerror', (error) => errors.push(error.message));
  await timed(`${name}: open`, async () => {
    await page.goto('file://' + html);
    await page.waitForSelector('body[data-ready=true]', { timeout: 120000 });
  });
  assert.deepEqual(errors, [], 'the page raised errors');
  page.errors = errors;
  return page;
}

const range = (page) => page.evaluate(() => window.fdTimeline.range);
const frame = (page) => page.evaluate(() => window.fdTimeline.frame());
const shot = (page, file) => page.screenshot({ path: join(outDir, file) });

async function exercise(browser, html, name, { command, records }) {
  const page = await open(browser, html, name);
  const info = await page.evaluate(() => ({
    records: window.fdTimeline.capture.records.count,
    transactions: window.fdTimeline.capture.transactions.length,
    end: window.fdTimeline.capture.endPosition,
    loadMs: window.fdTimeline.loadMs,
  }));
  timings[`${name}: decode data in page`] = Math.round(info.loadMs);
  assert.ok(info.records >= records, `${name}: ${info.records} records in the page`);
  await shot(page, `${name}-overview.png`);

  // Zoom in by key: the view narrows to half around its middle.
  const before = await range(page);
  await page.focus('#fd-plot');
  await timed(`${name}: zoom key`, async () => {
    await page.keyboard.press('+');
    await frame(page);
  });
  const zoomed = await range(page);
  const span = (r) => r.end - r.start;
  assert.ok(Math.abs(span(zoomed) - span(before) / 2) < 1e-6 * span(before), `${name}: + halves the span`);
  assert.ok(Math.abs((zoomed.start + zoomed.end) / 2 - (before.start + before.end) / 2) < 1e-6 * span(before));

  // Zoom in by wheel over the plot: the position under the mouse stays put.
  const box = await page.locator('#fd-canvas').boundingBox();
  const x = box.x + 118 + (box.width - 118) * 0.25;
  await page.mouse.move(x, box.y + 300);
  const anchor = await page.evaluate((px) => window.fdTimeline.view.positionAt(px), x - box.x);
  await timed(`${name}: zoom wheel`, async () => {
    await page.mouse.wheel(0, -600);
    await frame(page);
  });
  const wheeled = await range(page);
  assert.ok(span(wheeled) < span(zoomed) / 2, `${name}: the wheel zooms in`);
  const anchorAfter = await page.evaluate((px) => window.fdTimeline.view.positionAt(px), x - box.x);
  assert.ok(Math.abs(anchorAfter - anchor) < span(wheeled) / 100, `${name}: the wheel zooms around the mouse`);

  // Pan with the arrow key: a fifth of the span to the right.
  await page.keyboard.press('ArrowRight');
  await frame(page);
  const panned = await range(page);
  assert.ok(Math.abs(panned.start - wheeled.start - span(wheeled) * 0.2) < 1e-6 * span(wheeled) + 1e-9, `${name}: pan`);

  // Search for a command: every row shown is one.
  await timed(`${name}: search`, async () => {
    await page.fill('#fd-search', command);
    await frame(page);
  });
  const names = await page.locator('.fd-row .fd-name').allTextContents();
  assert.ok(names.length > 0, `${name}: search for ${command} finds rows`);
  assert.ok(names.every((n) => n === command), `${name}: only ${command} rows: ${names}`);

  // Click the first row: the view shows that transaction.
  const target = await page.evaluate(() => {
    const t = window.fdTimeline.rows()[0];
    return { start: t.start, end: t.end };
  });
  await timed(`${name}: click transaction`, async () => {
    await page.locator('.fd-row').first().click();
    await frame(page);
  });
  const shown = await range(page);
  assert.ok(shown.start <= target.start && shown.end >= target.end, `${name}: the transaction is in view`);
  assert.ok(span(shown) < (target.end - target.start) * 1.5 + 100, `${name}: and fills it`);
  await shot(page, `${name}-transaction.png`);

  // Zoom into the start of its data phase, where values can be read.
  await page.evaluate(({ start }) => {
    const c = window.fdTimeline.capture;
    const positions = c.records.positions;
    let i = 0;
    while (i < positions.length && positions[i] < start) i++;
    // The first data word after the command's set-up.
    while (i < positions.length && ![4026, 4032, 4017, 4018, 4002, 4003].includes(c.fieldList[c.records.kinds[i]].id)) i++;
    const p = positions[Math.min(i, positions.length - 1)];
    window.fdTimeline.view.setView(p - 60, p + 340);
  }, target);
  await frame(page);
  await shot(page, `${name}-data.png`);
  const errorsSeen = page.errors.length;
  assert.equal(errorsSeen, 0);
  return page;
}

const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', headless: true, args: ['--no-sandbox'] });
try {
  // A small capture with timing faults at 1 GS/s, ringing strobes and no Ultra DMA CRC words.
  const faults = makePage('faults', ['mixed', '--sectors', '2', '--sample-period', '1', '--late-data-every', '97',
    '--short-strobe-every', '150', '--ringing-every', '400', '--crc', 'none', '--seed', '5'], ['--mode', 'pio4']);
  const page = await exercise(browser, faults, 'faults', { command: 'WRITE DMA', records: 1000 });
  // Its warnings: the list, and a click that goes to one.
  await page.fill('#fd-search', '');
  await page.click('#fd-tab-warnings');
  const warnings = await page.locator('.fd-row').count();
  assert.ok(warnings > 0, 'faults: timing warnings are listed');
  await page.fill('#fd-search', 'tDS');
  const wanted = await page.evaluate(() => window.fdTimeline.rows()[0].position);
  await timed('faults: click warning', async () => {
    await page.locator('.fd-row').first().click();
    await frame(page);
  });
  const around = await range(page);
  assert.ok(around.start < wanted && around.end > wanted, 'faults: the warning is in view');
  assert.ok(Math.abs((around.start + around.end) / 2 - wanted) < 1, 'faults: centred on it');
  await shot(page, 'faults-warning.png');
  // The bus findings: a glitch row with its width, a CRC row with what was found.
  for (const [word, says] of [['glitch', /pulse shorter than any .* mode allows: [0-9.]+ ns, at least/],
    ['CRC', /Ultra DMA burst CRC: no crc word/]]) {
    await page.fill('#fd-search', word);
    const subs = await page.locator('.fd-row .fd-sub').allTextContents();
    assert.ok(subs.length > 0 && subs.every((t) => says.test(t)), `faults: ${word} findings are listed: ${subs[0]}`);
  }
  await page.locator('.fd-row').first().click();
  await frame(page);
  await shot(page, 'faults-crc.png');
  // The commands whose bursts had no CRC word carry the card's verdict.
  await page.click('#fd-tab-transactions');
  await page.fill('#fd-search', '');
  await page.selectOption('#fd-verdict', 'icrc error');
  const icrc = await page.evaluate(() => window.fdTimeline.rows().map((t) => t.summary));
  assert.ok(icrc.length > 0 && icrc.every((s) => s.includes('no crc word')), `faults: icrc error commands: ${icrc[0]}`);
  await page.selectOption('#fd-verdict', 'all verdicts');
  // The verdict filter and the warnings filter of the transaction list.
  await page.click('#fd-tab-transactions');
  await page.fill('#fd-search', '');
  await page.check('#fd-warned');
  const warned = await page.evaluate(() => window.fdTimeline.rows().map((t) => t.warnings));
  assert.ok(warned.length > 0 && warned.every((n) => n > 0), 'faults: the filter keeps transactions with warnings');
  await page.close();

  // A million records: 16 READ DMA commands of 256 sectors in Ultra DMA.
  const million = makePage('million', ['udma-read', '--sectors', '256', '--repeat', '16']);
  const big = await exercise(browser, million, 'million', { command: 'READ DMA', records: 1000000 });
  // Zoomed all the way out again, dense lanes are drawn per pixel column.
  await timed('million: fit', async () => {
    await big.focus('#fd-plot');
    await big.keyboard.press('f');
    await frame(big);
  });
  timings['million: last render'] = Math.round(await big.evaluate(() => window.fdTimeline.lastRenderMs()));
  await big.close();
} finally {
  await browser.close();
}

writeFileSync(join(outDir, 'timings.json'), JSON.stringify(timings, null, 2) + '\n');
for (const [label, ms] of Object.entries(timings)) console.log(`${label}: ${ms} ms`);
console.log(`screenshots in ${outDir}`);
