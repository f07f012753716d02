// The operator console in a real browser (Debian's chromium, headless, driven by puppeteer-core):
// run by scripts/check-console-browser against a running krpalvelin on the demo database.
//   node console-browser-test.mjs   with KRP_PORT, KRP_SOURCE_DIR, KRP_CHROMIUM, KRP_PROFILE_DIR
//                                   and optionally KRP_SCREENSHOT (a PNG file to write)
import https from 'node:https';
import net from 'node:net';
import fs from 'node:fs';
import path from 'node:path';
import puppeteer from 'puppeteer-core';

const port = Number(process.env.KRP_PORT);
const source = process.env.KRP_SOURCE_DIR;
const failures = [];
const check = (ok, what) => {
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${what}`);
  if (!ok) failures.push(what);
};

// The fixed application credentials, from the one header that holds them.
const header = fs.readFileSync(path.join(source, 'src/credentials/Palvelintunnukset.h'), 'utf8');
const user = header.match(/PALVELIMEN_KAYTTAJATUNNUS = "([^"]*)"/)[1];
const password = header.match(/PALVELIMEN_SALASANA = "([^"]*)"/)[1];

function request(method, target, body, authorization) {
  return new Promise((resolve, reject) => {
    const data = body === undefined ? undefined : JSON.stringify(body);
    const req = https.request({
      host: '127.0.0.1', port, method, path: target, rejectUnauthorized: false,
      headers: { Authorization: authorization, 'Content-Type': 'application/json',
                 ...(data ? { 'Content-Length': Buffer.byteLength(data) } : {}) },
    }, (res) => {
      let text = '';
      res.setEncoding('utf8');
      res.on('data', (chunk) => { text += chunk; });
      res.on('end', () => resolve({ status: res.statusCode, body: text }));
    });
    req.on('error', reject);
    if (data) req.write(data);
    req.end();
  });
}

async function openSession(application) {
  const basic = 'Basic ' + Buffer.from(`${user}:${password}`).toString('base64');
  const r = await request('POST', '/api/v1/session', {
    Application: application, Token: 'Kx7-Ruoste-Tunturi-2026', ApplicationUserName: 'VARASTO',
    ApplicationPassword: 'Hylly42' }, basic);
  if (r.status !== 200) throw new Error(`session opening answered ${r.status} ${r.body}`);
  const id = JSON.parse(r.body).session;
  return (method, args) => request('POST', `/api/v1/methods/${method}`, args, `Bearer ${id}`);
}

const markup = '<img src=x onerror="window.__krpXss=1;alert(1)"><script>window.__krpXss=2;alert(2)</script>';

const browser = await puppeteer.launch({
  executablePath: process.env.KRP_CHROMIUM || '/usr/bin/chromium',
  headless: true,
  acceptInsecureCerts: true,
  userDataDir: process.env.KRP_PROFILE_DIR,
  args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update',
         '--disable-sync', '--no-first-run', '--ignore-certificate-errors', '--disable-dev-shm-usage'],
});
try {
  const page = await browser.newPage();
  await page.setViewport({ width: 1280, height: 860 });
  const dialogs = [];
  const pageErrors = [];
  page.on('dialog', async (d) => { dialogs.push(d.message()); await d.dismiss(); });
  page.on('pageerror', (e) => pageErrors.push(String(e)));
  page.on('console', (m) => { if (m.type() === 'error') pageErrors.push(m.text()); });

  const loaded = await page.goto(`https://127.0.0.1:${port}/console`, { waitUntil: 'load' });
  check(loaded.status() === 200, 'the page loads from 127.0.0.1');
  await page.waitForFunction(() => document.getElementById('yhteys').classList.contains('ok')
                                   && document.getElementById('tila').textContent === 'Palvelee',
                             { timeout: 5000 });
  check(true, 'the page reads the state and says "Palvelee"');

  // Terminals of the demo, and one whose application name is markup.
  const kairanet = await openSession('Kairanet');
  await kairanet('Ping', ['Kairanet', 'pda-7']);
  const hostile = await openSession(markup);
  const clientId = `selain-${Date.now()}`;
  const search = `selainhaku-${Date.now()}`;
  const pinged = await hostile('Ping', [markup, clientId]);
  const searched = await hostile('MonivaiheinenTuotehaku', [0, search]);
  const answered = Date.now();
  check(pinged.status === 200 && searched.status === 200, 'Ping and the search are answered');

  // Their lines and the client's row appear without a reload, within 2 s.
  let appeared = true;
  try {
    await page.waitForFunction((id, code) => {
      const rows = [...document.querySelectorAll('#memYhteysnakyma td')].map((td) => td.textContent);
      const lines = document.getElementById('memYhteydet').textContent;
      return rows.includes(id) && lines.includes(code);
    }, { timeout: 2000, polling: 20 }, clientId, search);
  } catch {
    appeared = false;
  }
  const took = Date.now() - answered;
  check(appeared && took <= 2000, `the client's row and the search's log line appear within 2 s (${took} ms)`);

  // The markup is shown as text and runs nothing.
  const shown = await page.evaluate((text) => ({
    cell: [...document.querySelectorAll('#memYhteysnakyma td')].some((td) => td.textContent === text),
    line: [...document.querySelectorAll('#memYhteydet div')].some((d) => d.textContent.includes(`"${text}"`)),
    images: document.querySelectorAll('img').length,
    scripts: [...document.scripts].map((s) => s.getAttribute('src')),
    flag: typeof window.__krpXss,
  }), markup);
  check(shown.cell, 'the application name shows literally in the client list');
  check(shown.line, 'the application name shows literally in the log line of the opening');
  check(shown.images === 0, `no img element in the page (${shown.images})`);
  check(shown.scripts.length === 1 && shown.scripts[0] === '/console/console.js',
        `only the console's own script is in the page (${JSON.stringify(shown.scripts)})`);
  check(shown.flag === 'undefined', 'the markup set no global flag');
  check(dialogs.length === 0, `no dialog opened (${JSON.stringify(dialogs)})`);

  // The counter and the filter box.
  check(await page.$eval('#labKairanetYhteyksia', (e) => e.textContent) === '1', 'Kairanet yhteyksiä counts 1');
  await page.type('#suodatin', search);
  const filtered = await page.$$eval('#memYhteydet div', (divs, code) => ({
    shown: divs.filter((d) => !d.hidden).length,
    wrong: divs.filter((d) => !d.hidden && !d.textContent.includes(code)).length,
    hidden: divs.filter((d) => d.hidden).length,
  }), search);
  check(filtered.shown > 0 && filtered.wrong === 0 && filtered.hidden > 0,
        `the filter shows only matching lines (${JSON.stringify(filtered)})`);
  await page.$eval('#suodatin', (e) => { e.value = ''; e.dispatchEvent(new Event('input')); });
  check(await page.$$eval('#memYhteydet div', (divs) => divs.every((d) => !d.hidden)), 'an empty filter shows every line');
  check(pageErrors.length === 0, `no script errors or policy violations (${JSON.stringify(pageErrors)})`);

  if (process.env.KRP_SCREENSHOT) {
    await kairanet('Ping', ['Kairanet', 'pda-12']);
    await new Promise((r) => setTimeout(r, 1200));
    await page.screenshot({ path: process.env.KRP_SCREENSHOT, fullPage: true });
    console.log(`wrote ${process.env.KRP_SCREENSHOT}`);
  }

  // The access rule from a loopback address that the settings do not list. The browser cannot
  // choose its source address, so it goes through a TCP relay that connects from 127.0.0.2 (TLS
  // passes through untouched).
  const relay = net.createServer((inbound) => {
    const outbound = net.connect({ host: '127.0.0.1', port, localAddress: '127.0.0.2' });
    inbound.pipe(outbound).pipe(inbound);
    inbound.on('error', () => outbound.destroy());
    outbound.on('error', () => inbound.destroy());
  });
  await new Promise((r) => relay.listen(0, '127.0.0.1', r));
  const relayed = relay.address().port;
  const other = await browser.newPage();
  const refused = await other.goto(`https://127.0.0.1:${relayed}/console`, { waitUntil: 'load' });
  check(refused.status() === 403, `127.0.0.2 gets 403 for the page (${refused.status()})`);
  const state = await other.goto(`https://127.0.0.1:${relayed}/console/state`, { waitUntil: 'load' });
  check(state.status() === 403, `127.0.0.2 gets 403 for the state (${state.status()})`);
  check(!(await other.content()).includes(clientId), 'the refusal shows nothing of the clients');
  relay.close();
} finally {
  await browser.close();
}
if (failures.length > 0) {
  console.log(`console-browser-test: ${failures.length} check(s) failed`);
  process.exit(1);
}
console.log('console-browser-test: all checks passed');
