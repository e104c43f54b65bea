// Keeps the status page current: reads /status.json twice a second and
// writes what changed into the page, and fetches the timing diagram again
// when a channel changes. Values go in as text, never as markup.
'use strict';

const kRefreshMs = 500;
let shownChannels = null;

// An empty value reads as the element's data-empty text ("not known").
function setText(element, value) {
  const text = value === '' && element.dataset.empty ? element.dataset.empty : value;
  if (element.textContent !== text) {
    element.textContent = text;
  }
}

function show(id, value) {
  setText(document.getElementById(id), value);
}

function showLink(link) {
  const state = document.getElementById('link');
  const word = link.up ? 'up' : 'down';
  setText(state, word);
  state.className = word;
  show('link-problem', link.problem);
}

// Rebuilt only when it changed, so that a selection being copied stays.
function showResources(resources) {
  const list = document.getElementById('resources');
  const shown = Array.from(list.querySelectorAll('code'), (code) => code.textContent);
  if (shown.join('\n') === resources.join('\n')) {
    return;
  }
  list.replaceChildren(...resources.map((resource) => {
    const item = document.createElement('li');
    const code = document.createElement('code');
    code.textContent = resource;
    item.append(code);
    return item;
  }));
}

function showChannels(channels) {
  const table = document.getElementById('channels');
  channels.forEach((channel, index) => {
    const row = table.tBodies[0].rows[index];
    const known = channel.delayPs !== null;
    row.classList.toggle('unknown', !known);
    setText(row.cells[1], channel.label);
    setText(row.cells[2], known ? String(channel.delayPs) : table.dataset.empty);
    setText(row.cells[3], known ? String(channel.widthPs) : table.dataset.empty);
  });
}

function showRecord(record) {
  show('record', !record.kept ? 'not kept'
      : record.problem === '' ? 'kept' : `not working: ${record.problem}`);
}

// Lists and tables are rebuilt only when they changed.
let shownSetups = null;
let shownJournal = null;

function showSetups(setups) {
  const text = JSON.stringify(setups);
  if (text === shownSetups) {
    return;
  }
  document.getElementById('setups').replaceChildren(...setups.map((name) => {
    const item = document.createElement('li');
    item.textContent = name;
    return item;
  }));
  shownSetups = text;
}

function showJournal(journal) {
  const text = JSON.stringify(journal);
  if (text === shownJournal) {
    return;
  }
  const ps = (value) => (value === null ? '' : String(value));
  document.getElementById('journal').tBodies[0].replaceChildren(...journal.map((entry) => {
    const row = document.createElement('tr');
    for (const cell of [entry.time, entry.client, ps(entry.channel), ps(entry.delayPs),
      ps(entry.widthPs), entry.frame, entry.reply, entry.outcome]) {
      const data = document.createElement('td');
      data.textContent = cell;
      row.append(data);
    }
    return row;
  }));
  shownJournal = text;
}

async function fetchOk(path) {
  const response = await fetch(path, {cache: 'no-store'});
  if (!response.ok) {
    throw new Error(`${path}: ${response.status}`);
  }
  return response;
}

async function fetchDiagram() {
  const text = await (await fetchOk('/timing.svg')).text();
  const parsed = new DOMParser().parseFromString(text, 'image/svg+xml');
  return document.importNode(parsed.documentElement, true);
}

async function refresh() {
  try {
    const status = await (await fetchOk('/status.json')).json();
    const channels = JSON.stringify(status.channels);
    const diagram = channels === shownChannels ? null : await fetchDiagram();
    show('manufacturer', status.manufacturer);
    show('model', status.model);
    show('serial', status.serialNumber);
    show('version', status.version);
    show('port', status.port);
    showLink(status.link);
    show('lock-owner', status.lockOwner ?? '');
    showResources(status.resources);
    showChannels(status.channels);
    showRecord(status.record);
    showSetups(status.setups);
    showJournal(status.journal);
    if (diagram) {
      document.getElementById('diagram').replaceChildren(diagram);
    }
    shownChannels = channels;
    document.getElementById('unreachable').hidden = true;
  } catch (error) {
    document.getElementById('unreachable').hidden = false;
  }
  setTimeout(refresh, kRefreshMs);
}

setTimeout(refresh, kRefreshMs);
