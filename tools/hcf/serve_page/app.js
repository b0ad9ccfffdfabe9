// The page of hcf serve: the instrument, the reading, the nearest products, the catalogue and
// the session's readings. Everything comes from the server's JSON API and its event stream;
// text that comes from the catalogue or the instrument goes into the page as text only.
'use strict';

const token = new URLSearchParams(location.search).get('token');
const $ = (id) => document.getElementById(id);

// The page's own view of the session.
const page = {
  state: null,
  readings: new Map(), // number → reading, in the order they came
  current: null, // the reading shown in the swatch
  filters: {}, // key → [value...]
  selected: [], // history numbers chosen for a difference (at most two)
};

// ---- talking to the server ----

async function api(method, path, body) {
  const headers = {};
  if (token) headers['X-HCF-Token'] = token;
  const init = { method, headers };
  if (body !== undefined) {
    headers['Content-Type'] = 'application/json';
    init.body = JSON.stringify(body);
  }
  let answer;
  try {
    answer = await fetch(path, init);
  } catch (failure) {
    throw new Error('hcf serve does not answer (' + failure.message + ')');
  }
  const text = await answer.text();
  let json = null;
  try {
    json = text ? JSON.parse(text) : {};
  } catch (_) {
    // Not JSON: the status line is all there is to say.
  }
  if (!answer.ok) {
    const message = json && json.error ? json.error : answer.status + ' ' + answer.statusText;
    throw new Error(message);
  }
  return json || {};
}

const post = (path, body) => api('POST', path, body === undefined ? {} : body);
const get = (path) => api('GET', path);

// Runs an action, showing what it throws as a readable message.
async function attempt(action) {
  try {
    return await action();
  } catch (failure) {
    showError(failure.message);
    return undefined;
  }
}

// A button's action: the button is disabled while the request runs.
function onClick(id, action) {
  $(id).addEventListener('click', async () => {
    const button = $(id);
    button.setAttribute('aria-busy', 'true');
    try {
      await attempt(action);
    } finally {
      button.removeAttribute('aria-busy');
    }
  });
}

// ---- errors ----

const maxErrors = 5;

function showError(message) {
  const line = document.createElement('p');
  const text = document.createElement('span');
  text.textContent = message;
  const dismiss = document.createElement('button');
  dismiss.type = 'button';
  dismiss.textContent = 'Dismiss';
  dismiss.addEventListener('click', () => line.remove());
  line.append(text, dismiss);
  const box = $('errors');
  box.append(line);
  while (box.children.length > maxErrors) box.firstElementChild.remove();
}

// ---- formatting ----

const fixed = (x, digits) => (typeof x === 'number' ? x.toFixed(digits) : '—');
const css = (hex) => (/^[0-9A-Fa-f]{6}$/.test(hex || '') ? '#' + hex : '');

function labText(lab) {
  return 'L* ' + fixed(lab.L, 2) + '  a* ' + fixed(lab.a, 2) + '  b* ' + fixed(lab.b, 2);
}

function lchText(lch) {
  return 'L* ' + fixed(lch.L, 2) + '  C* ' + fixed(lch.C, 2) + '  h ' + fixed(lch.h, 1) + '°';
}

// Instruments often advertise a name that already ends in their serial.
function nameWithSerial(name, serial) {
  return serial && !name.includes(serial) ? name + ' ' + serial : name;
}

function methodLabel(method) {
  const option = [...$('method').options].find((o) => o.value === method);
  return option ? option.textContent : method;
}

// ---- instrument ----

function renderState(state) {
  const wasInstalled = catalogueInstalled();
  page.state = state;
  const kit = { started: '', starting: 'The kit is starting…', failed: 'The kit failed to start.' };
  $('kit-status').textContent = kit[state.kit] || '';
  const instrument = state.connected;
  const connected = Boolean(instrument);
  $('connected').textContent = connected
    ? 'Connected: ' + nameWithSerial(instrument.name, instrument.serial) + ' (' + instrument.model + ', ' +
      instrument.kind + ')' + (state.calibrated ? ', calibrated.' : ', not calibrated.')
    : 'Not connected.';
  $('disconnect').disabled = !connected;
  $('calibrate').disabled = !connected;
  $('battery-refresh').disabled = !connected;
  $('measure').disabled = !connected;
  const instruction = connected && instrument.needsWhiteCalibration && !state.calibrated
    ? instrument.calibrationInstruction : '';
  $('calibration-instruction').textContent = instruction;
  $('calibration-instruction').hidden = !instruction;
  renderBattery(connected ? instrument.battery : null);
  for (const button of document.querySelectorAll('#instruments .connect')) {
    const here = connected && button.dataset.serial !== '' && button.dataset.serial === instrument.serial;
    button.setAttribute('aria-pressed', here ? 'true' : 'false');
  }
  renderCatalogue(state.catalogue, wasInstalled);
}

function renderBattery(battery) {
  $('battery').textContent = battery
    ? battery.level + ' %' + (battery.charging ? ', charging' : '')
    : '—';
}

function renderInstruments(instruments) {
  const list = $('instruments');
  list.replaceChildren();
  if (instruments.length === 0) {
    const none = document.createElement('li');
    none.textContent = 'No instrument in range.';
    list.append(none);
    return;
  }
  for (const found of instruments) {
    const button = document.createElement('button');
    button.type = 'button';
    button.className = 'connect';
    button.dataset.id = found.id;
    button.dataset.serial = found.serial || '';
    button.textContent = 'Connect ' + nameWithSerial(found.name, found.serial) +
      ' — signal ' + found.rssi + ' dBm';
    button.addEventListener('click', () => attempt(async () => {
      renderState({ ...page.state, connected: await post('/api/connect', { id: found.id }),
        calibrated: false });
    }));
    const item = document.createElement('li');
    item.append(button);
    list.append(item);
  }
}

// ---- reading ----

function addReading(reading) {
  page.readings.set(reading.number, reading);
  renderHistory();
}

function showReading(reading) {
  page.current = reading;
  const colour = css(reading.hex);
  $('swatch').style.background = colour;
  $('swatch').setAttribute('aria-label', 'Measured colour ' + (colour || 'unknown'));
  $('hex').textContent = colour || '—';
  $('lab').textContent = labText(reading.lab) + '  (' + reading.illuminant + ', ' +
    reading.observer + '°)';
  $('lch').textContent = lchText(reading.lch);
  $('out-of-gamut').hidden = !reading.outOfGamut;
  $('over-range').hidden = !reading.overRange;
}

// A reading comes both as the answer to Measure and as an event: shown once.
function takeReading(reading) {
  if (page.readings.has(reading.number)) return;
  $('reading-status').textContent = 'Reading ' + reading.number + ' from ' + reading.serial + '.';
  addReading(reading);
  showReading(reading);
  refreshProducts();
}

// The view settings: later readings, the history and the search use them.
function sendView() {
  return post('/api/view', {
    illuminant: $('illuminant').value,
    observer: $('observer').value,
    method: $('method').value,
  });
}

async function changeView() {
  await attempt(async () => {
    await sendView();
    const { readings } = await get('/api/readings');
    page.readings.clear();
    for (const reading of readings) page.readings.set(reading.number, reading);
    renderHistory();
    const current = page.current && page.readings.get(page.current.number);
    if (current) showReading(current);
    await refreshProducts();
    await showDifference();
  });
}

// ---- products and filters ----

function catalogueInstalled() {
  return Boolean(page.state && page.state.catalogue && page.state.catalogue.installed);
}

// Answers that arrive after a newer request started are dropped.
let productsRequest = 0;

async function refreshProducts() {
  const request = ++productsRequest;
  const note = $('products-note');
  if (!catalogueInstalled()) {
    note.textContent = 'Download the catalogue to see the nearest products.';
    $('products').replaceChildren();
    $('filters').replaceChildren();
    return;
  }
  await attempt(async () => {
    const { facets } = await post('/api/filters', { filters: page.filters });
    if (request !== productsRequest) return;
    renderFilters(facets);
    if (!page.current) {
      note.textContent = 'Measure a colour to see the nearest products.';
      return;
    }
    const { products } = await post('/api/search',
      { reading: page.current.number, limit: 10, filters: page.filters });
    if (request !== productsRequest) return;
    renderProducts(products);
    note.textContent = products.length
      ? 'Nearest to reading ' + page.current.number + ' by ' + methodLabel($('method').value) + '.'
      : 'No product matches the chosen filters.';
  });
}

function renderProducts(products) {
  const list = $('products');
  list.replaceChildren();
  for (const product of products) {
    const item = document.createElement('li');
    const swatch = document.createElement('span');
    swatch.className = 'swatch';
    swatch.style.background = css(product.hex);
    swatch.setAttribute('aria-hidden', 'true');
    const code = document.createElement('span');
    code.className = 'code';
    code.textContent = product.code;
    const name = document.createElement('span');
    name.className = 'name';
    name.textContent = product.name;
    const deltaE = document.createElement('span');
    deltaE.className = 'deltae';
    deltaE.textContent = 'ΔE ' + fixed(product.deltaE, 2);
    item.append(swatch, code, name, deltaE);
    list.append(item);
  }
}

function renderFilters(facets) {
  const form = $('filters');
  const focused = document.activeElement;
  const focusKey = focused && focused.form === form
    ? [focused.dataset.key, focused.dataset.value] : null;
  form.replaceChildren();
  for (const facet of facets) {
    const set = document.createElement('fieldset');
    set.dataset.key = facet.key;
    const legend = document.createElement('legend');
    legend.textContent = facet.label;
    set.append(legend);
    const chosen = page.filters[facet.key] || [];
    for (const value of facet.values) {
      const box = document.createElement('input');
      box.type = 'checkbox';
      box.dataset.key = facet.key;
      box.dataset.value = value.value;
      box.checked = chosen.includes(value.value);
      box.addEventListener('change', () => chooseFilter(facet.key, value.value, box.checked));
      const label = document.createElement('label');
      label.append(box, ' ' + value.label + ' (' + value.count + ')');
      set.append(label);
      if (focusKey && focusKey[0] === facet.key && focusKey[1] === value.value) {
        queueMicrotask(() => box.focus());
      }
    }
    form.append(set);
  }
}

function chooseFilter(key, value, on) {
  const values = new Set(page.filters[key] || []);
  if (on) values.add(value);
  else values.delete(value);
  if (values.size) page.filters[key] = [...values];
  else delete page.filters[key];
  refreshProducts();
}

// ---- catalogue ----

function renderCatalogue(catalogue, wasInstalled = catalogueInstalled()) {
  if (!catalogue) return;
  if (page.state) page.state.catalogue = catalogue;
  let status;
  if (catalogue.downloading) {
    status = 'Downloading… ' + Math.round(catalogue.progress * 100) + ' %';
  } else if (catalogue.installed) {
    status = 'Installed: ' + catalogue.products + ' products' +
      (catalogue.date ? ', dated ' + catalogue.date.slice(0, 10) : '') + '.';
  } else {
    status = 'Not installed.';
  }
  $('catalogue-status').textContent = status;
  $('progress').hidden = !catalogue.downloading;
  $('progress').value = catalogue.downloading ? catalogue.progress : (catalogue.installed ? 1 : 0);
  $('download').disabled = catalogue.downloading;
  $('download').textContent = catalogue.installed ? 'Download again' : 'Download the catalogue';
  if (!wasInstalled && catalogue.installed) refreshProducts();
}

// ---- history ----

function renderHistory() {
  const box = $('history');
  box.replaceChildren();
  page.selected = page.selected.filter((n) => page.readings.has(n));
  for (const reading of page.readings.values()) {
    const entry = document.createElement('button');
    entry.type = 'button';
    entry.className = 'history-entry';
    entry.dataset.number = reading.number;
    entry.setAttribute('aria-pressed', page.selected.includes(reading.number) ? 'true' : 'false');
    entry.setAttribute('aria-label', 'Reading ' + reading.number + ', ' + css(reading.hex));
    const chip = document.createElement('span');
    chip.className = 'chip';
    chip.style.background = css(reading.hex);
    const label = document.createElement('span');
    label.textContent = '#' + reading.number;
    entry.append(chip, label);
    entry.addEventListener('click', () => toggleSelected(reading.number));
    box.append(entry);
  }
}

function toggleSelected(number) {
  if (page.selected.includes(number)) {
    page.selected = page.selected.filter((n) => n !== number);
  } else {
    page.selected = [...page.selected, number].slice(-2);
  }
  const current = page.readings.get(number);
  if (current) {
    showReading(current);
    refreshProducts();
  }
  renderHistory();
  const again = document.querySelector('.history-entry[data-number="' + number + '"]');
  if (again) again.focus();
  showDifference();
}

async function showDifference() {
  const out = $('history-difference');
  if (page.selected.length !== 2) {
    out.hidden = true;
    out.textContent = '';
    return;
  }
  const [a, b] = page.selected;
  await attempt(async () => {
    const d = await get('/api/difference?a=' + a + '&b=' + b);
    out.textContent = methodLabel(d.method) + ' between #' + a + ' and #' + b + ': ' +
      fixed(d.deltaE, 2) + '  (ΔL* ' + fixed(d.dL, 2) + ', ΔC* ' + fixed(d.dC, 2) +
      ', ΔH* ' + fixed(d.dH, 2) + ')';
    out.hidden = false;
  });
}

// The history files: fetched with the token when the page has one, then saved.
function saveLink(id) {
  $(id).addEventListener('click', (event) => {
    if (!token) return;
    event.preventDefault();
    attempt(async () => {
      const answer = await fetch($(id).getAttribute('href'), { headers: { 'X-HCF-Token': token } });
      if (!answer.ok) throw new Error('Saving the readings failed: ' + answer.status);
      const url = URL.createObjectURL(await answer.blob());
      const link = document.createElement('a');
      link.href = url;
      link.download = $(id).getAttribute('download');
      link.click();
      setTimeout(() => URL.revokeObjectURL(url), 0);
    });
  });
}

// ---- events ----

function listen() {
  const events = new EventSource('/api/events' + (token ? '?token=' + encodeURIComponent(token) : ''));
  let lost = false;
  const on = (name, handle) => events.addEventListener(name, (event) => {
    let data;
    try {
      data = JSON.parse(event.data);
    } catch (_) {
      showError('The server sent an event the page cannot read.');
      return;
    }
    handle(data);
  });
  on('reading', (reading) => takeReading(reading));
  on('button', (press) => {
    $('reading-status').textContent = 'Button pressed on ' + press.serial + ': measuring…';
  });
  on('state', (state) => renderState(state));
  on('download', (catalogue) => renderCatalogue(catalogue));
  on('failure', (failure) => showError(failure.error));
  events.addEventListener('open', () => {
    if (lost) {
      lost = false;
      attempt(async () => renderState(await get('/api/state')));
    }
  });
  events.onerror = () => {
    if (!lost) showError('The connection to hcf serve was lost; trying again.');
    lost = true;
  };
}

// ---- start ----

function wire() {
  onClick('discover', async () => {
    const { instruments } = await post('/api/discover');
    renderInstruments(instruments);
    if (page.state) renderState(page.state);
  });
  onClick('disconnect', async () => {
    await post('/api/disconnect');
    renderState({ ...page.state, connected: null, calibrated: false });
  });
  onClick('calibrate', async () => {
    const { calibrated } = await post('/api/calibrate');
    renderState({ ...page.state, calibrated });
  });
  onClick('battery-refresh', async () => renderBattery(await post('/api/battery')));
  onClick('measure', async () => takeReading(await post('/api/measure')));
  onClick('download', async () => renderCatalogue(await post('/api/catalogue/download')));
  for (const id of ['illuminant', 'observer', 'method']) $(id).addEventListener('change', changeView);
  saveLink('save-cgats');
  saveLink('save-csv');
}

async function start() {
  wire();
  listen();
  await attempt(async () => {
    // The selects may keep a choice over a reload: the server follows the page.
    await sendView();
    renderState(await get('/api/state'));
    const { readings } = await get('/api/readings');
    for (const reading of readings) page.readings.set(reading.number, reading);
    renderHistory();
    const last = readings[readings.length - 1];
    if (last) showReading(last);
    await refreshProducts();
  });
  document.body.dataset.ready = 'true';
}

start();
