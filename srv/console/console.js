// The query console: sends "querydbg" or "query" to the service and shows
// the reply. Every value reaches the page through textContent, never as
// markup.
'use strict';
(() => {
  const SERVICE = '/ZIDozeve';
  const TOKEN_KEY = 'vqsrv.token';
  const HISTORY_KEY = 'vqsrv.history';
  const HISTORY_MAX = 20;
  // A large result is shown a page at a time: laying out a table costs the
  // browser about as much per cell as building it, so a page holds at most
  // 1,000 rows and 20,000 cells. The download keeps every row.
  const PAGE_ROWS = 1000;
  const PAGE_CELLS = 20000;
  const $ = (id) => document.getElementById(id);

  // ---- JSON with the order of object keys kept -------------------------
  // JSON.parse gives objects whose integer-like keys ("1", "2") come first,
  // whatever order the service sent; columns must keep the sent order.

  class Obj {
    constructor() { this.keys = []; this.vals = []; }
    get(key) { const i = this.keys.indexOf(key); return i < 0 ? undefined : this.vals[i]; }
  }

  const ESCAPES = { '"': '"', '\\': '\\', '/': '/', b: '\b', f: '\f', n: '\n', r: '\r', t: '\t' };
  const NUMBER = /-?(?:0|[1-9]\d*)(?:\.\d+)?(?:[eE][+-]?\d+)?/y;

  function parseJson(text) {
    const n = text.length;
    let i = 0;
    let backslash = text.indexOf('\\');  // the next one at or after i, or -1
    const fail = () => { throw new SyntaxError('the reply is not JSON (at ' + i + ')'); };
    const space = () => {
      for (let c = text.charCodeAt(i); c === 32 || c === 10 || c === 13 || c === 9; c = text.charCodeAt(++i));
    };
    const string = () => {
      let out = '';
      let start = ++i;
      for (;;) {
        const quote = text.indexOf('"', i);
        if (quote < 0) fail();
        if (backslash !== -1 && backslash < i) backslash = text.indexOf('\\', i);
        if (backslash === -1 || backslash > quote) {
          i = quote + 1;
          return out + text.slice(start, quote);
        }
        out += text.slice(start, backslash);
        const e = text[backslash + 1];
        i = backslash + 2;
        if (e === 'u') {
          const hex = text.slice(i, i + 4);
          if (!/^[0-9a-fA-F]{4}$/.test(hex)) fail();
          out += String.fromCharCode(parseInt(hex, 16));
          i += 4;
        } else if (e in ESCAPES) {
          out += ESCAPES[e];
        } else {
          fail();
        }
        start = i;
      }
    };
    const value = () => {
      space();
      const c = text[i];
      if (c === '"') return string();
      if (c === '{') {
        const o = new Obj();
        ++i;
        space();
        if (text[i] === '}') { ++i; return o; }
        for (;;) {
          space();
          if (text[i] !== '"') fail();
          o.keys.push(string());
          space();
          if (text[i++] !== ':') fail();
          o.vals.push(value());
          space();
          const d = text[i++];
          if (d === '}') return o;
          if (d !== ',') fail();
        }
      }
      if (c === '[') {
        const a = [];
        ++i;
        space();
        if (text[i] === ']') { ++i; return a; }
        for (;;) {
          a.push(value());
          space();
          const d = text[i++];
          if (d === ']') return a;
          if (d !== ',') fail();
        }
      }
      for (const [word, v] of [['true', true], ['false', false], ['null', null]]) {
        if (text.startsWith(word, i)) { i += word.length; return v; }
      }
      NUMBER.lastIndex = i;
      const m = NUMBER.exec(text);
      if (!m) fail();
      i = NUMBER.lastIndex;
      return Number(m[0]);
    };
    const result = value();
    space();
    if (i !== n) fail();
    return result;
  }

  // ---- Token --------------------------------------------------------------

  const storage = (area) => { try { return window[area]; } catch (e) { return null; } };
  const session = storage('sessionStorage');
  const local = storage('localStorage');
  const read = (area, key) => { try { return area ? area.getItem(key) : null; } catch (e) { return null; } };
  const write = (area, key, value) => {
    try { if (area) { if (value === null) area.removeItem(key); else area.setItem(key, value); } } catch (e) { /* full or off */ }
  };
  let memoryToken = null;  // when sessionStorage is not available
  const token = () => read(session, TOKEN_KEY) || memoryToken;
  const setToken = (t) => { memoryToken = t; write(session, TOKEN_KEY, t); };

  let asking = null;  // one question at a time, shared by every waiting request
  function askToken(refused) {
    if (asking) return asking;
    const form = $('auth');
    $('auth-message').textContent = refused
      ? 'The token was refused. Enter the right token for this service.'
      : 'This service needs a token.';
    form.hidden = false;
    $('token').value = '';
    $('token').focus();
    asking = new Promise((resolve) => {
      const done = (value) => {
        form.hidden = true;
        form.onsubmit = null;
        $('auth-cancel').onclick = null;
        asking = null;
        resolve(value);
      };
      form.onsubmit = (e) => { e.preventDefault(); done($('token').value); };
      $('auth-cancel').onclick = () => done(null);
    });
    return asking;
  }

  // fetch with the token; a 401 asks for it (again) and tries once more per
  // answer given. Resolves to the last response.
  async function send(path, init) {
    for (;;) {
      const headers = Object.assign({}, init.headers);
      const t = token();
      if (t) headers.Authorization = 'Bearer ' + t;
      const response = await fetch(path, Object.assign({}, init, { headers, cache: 'no-store' }));
      if (response.status !== 401) return response;
      const given = await askToken(Boolean(t));
      if (given === null || given === '') return response;
      setToken(given);
    }
  }

  // ---- History --------------------------------------------------------------

  function history() {
    try {
      const list = JSON.parse(read(local, HISTORY_KEY) || '[]');
      return Array.isArray(list) ? list.filter((h) => h && typeof h.sql === 'string') : [];
    } catch (e) {
      return [];
    }
  }

  function remember(entry) {
    const same = (h) => h.sql === entry.sql && h.dsn === entry.dsn && h.mode === entry.mode;
    const list = [entry].concat(history().filter((h) => !same(h))).slice(0, HISTORY_MAX);
    write(local, HISTORY_KEY, JSON.stringify(list));
    showHistory();
  }

  function showHistory() {
    const select = $('history');
    select.length = 1;
    for (const h of history()) {
      const first = h.sql.trim().split('\n')[0];
      const o = document.createElement('option');
      o.textContent = (first.length > 70 ? first.slice(0, 69) + '\u2026' : first) + '  [' + (h.dsn || '') + ']';
      select.appendChild(o);
    }
    if (!dsnsLimited) suggest(Array.from(new Set(history().map((h) => h.dsn).filter(Boolean))));
  }

  function pick(index) {
    const h = history()[index];
    if (!h) return;
    $('dsn').value = h.dsn || '';
    $('sql').value = h.sql;
    $('mode').value = h.mode === 'query' ? 'query' : 'querydbg';
    if (h.record !== undefined) $('record').value = String(h.record);
    modeChanged();
    $('sql').focus();
  }

  // ---- Data source suggestions ---------------------------------------------

  let dsnsLimited = false;

  function suggest(names) {
    const list = $('dsn-list');
    list.textContent = '';
    for (const name of names) {
      const o = document.createElement('option');
      o.value = name;
      list.appendChild(o);
    }
  }

  async function loadDsns() {
    let response;
    try {
      response = await send('dsns.json', { method: 'GET' });
    } catch (e) {
      return;
    }
    if (!response.ok) return;
    try {
      const d = parseJson(await response.text());
      const names = d instanceof Obj && Array.isArray(d.get('names')) ? d.get('names').filter((x) => typeof x === 'string') : [];
      dsnsLimited = d instanceof Obj && d.get('limited') === true;
      if (dsnsLimited) {
        suggest(names);
        if (!$('dsn').value && names.length) $('dsn').value = names[0];
      }
    } catch (e) { /* no suggestions */ }
  }

  // ---- Showing results --------------------------------------------------------

  let shown = null;  // {columns, rows} of the table on the page
  let generation = 0;  // a newer run stops the rendering of an older one
  let rendering = false;  // a page of rows is on its way to the screen
  let running = false;  // a request is under way

  // Set from Run until the answer is on the page, table rows included.
  const busy = (on) => document.body.toggleAttribute('data-busy', on);

  function clear() {
    ++generation;
    rendering = false;
    shown = null;
    $('csv').disabled = true;
    $('table').textContent = '';
    $('pager').hidden = true;
    for (const id of ['error', 'line']) { $(id).hidden = true; $(id).textContent = ''; }
    delete $('result').dataset.renderMs;
  }

  function showError(text) {
    $('error').textContent = text;
    $('error').hidden = false;
  }

  const plural = (n, word) => n.toLocaleString('en-US') + ' ' + word + (n === 1 ? '' : 's');
  const took = (ms) => (ms < 1000 ? Math.round(ms) + ' ms' : (ms / 1000).toFixed(2) + ' s');

  function cellValue(row, columns, j) {
    const v = row instanceof Obj ? (row.keys[j] === columns[j] ? row.vals[j] : row.get(columns[j])) : undefined;
    return v === undefined ? null : v;
  }

  function showTable(results, started, ms) {
    const rows = results.map((r) => (r instanceof Obj ? r : new Obj()));
    const columns = rows.length ? rows[0].keys.slice() : [];
    const perPage = Math.max(1, Math.min(PAGE_ROWS, Math.floor(PAGE_CELLS / Math.max(1, columns.length))));
    shown = { columns, rows, perPage, page: 0 };
    $('csv').disabled = rows.length === 0;
    $('status').textContent = plural(rows.length, 'row') + ' in ' + took(ms);
    const head = document.createElement('thead');
    const tr = document.createElement('tr');
    for (const c of columns) {
      const th = document.createElement('th');
      th.textContent = c;
      tr.appendChild(th);
    }
    head.appendChild(tr);
    $('table').appendChild(head);
    $('table').appendChild(document.createElement('tbody'));
    showPage(0, started);
  }

  function showPage(page, started) {
    const { columns, rows, perPage } = shown;
    const last = Math.max(0, Math.ceil(rows.length / perPage) - 1);
    shown.page = page = Math.min(Math.max(page, 0), last);
    const from = page * perPage;
    const to = Math.min(rows.length, from + perPage);
    const body = document.createElement('tbody');
    for (let i = from; i < to; ++i) {
      const row = rows[i];
      const line = document.createElement('tr');
      for (let j = 0; j < columns.length; ++j) {
        const v = cellValue(row, columns, j);
        const td = document.createElement('td');
        if (v === null) {
          td.className = 'null';
          td.textContent = 'NULL';
        } else {
          td.textContent = String(v);
        }
        line.appendChild(td);
      }
      body.appendChild(line);
    }
    $('table').tBodies[0].replaceWith(body);
    $('result').scrollTop = 0;
    $('pager').hidden = rows.length <= perPage;
    $('page-info').textContent = 'Rows ' + (from + 1).toLocaleString('en-US') + '\u2013' +
      to.toLocaleString('en-US') + ' of ' + rows.length.toLocaleString('en-US') +
      ' (Download CSV has them all)';
    $('previous').disabled = page === 0;
    $('next').disabled = page === last;
    // Done once the browser has drawn the rows: the frame after this one.
    rendering = true;
    const mine = generation;
    requestAnimationFrame(() => setTimeout(() => {
      if (mine !== generation) return;
      $('result').dataset.renderMs = String(Math.round(performance.now() - started));
      rendering = false;
      if (!running) busy(false);
    }, 0));
  }

  function turnPage(by) {
    if (!shown || rendering) return;
    busy(true);
    delete $('result').dataset.renderMs;
    showPage(shown.page + by, performance.now());
  }

  // RFC 4180: fields with a quote, comma, CR or LF are quoted, quotes
  // doubled, lines end in CRLF. A database NULL is an empty field, an empty
  // text is "".
  function csvField(v) {
    if (v === null) return '';
    const s = String(v);
    return s === '' || /[",\r\n]/.test(s) ? '"' + s.replace(/"/g, '""') + '"' : s;
  }

  function csvText(columns, rows) {
    const lines = [columns.map(csvField).join(',')];
    for (const row of rows) {
      const cells = [];
      for (let j = 0; j < columns.length; ++j) cells.push(csvField(cellValue(row, columns, j)));
      lines.push(cells.join(','));
    }
    return lines.join('\r\n') + '\r\n';
  }

  function download() {
    if (!shown) return;
    const blob = new Blob([csvText(shown.columns, shown.rows)], { type: 'text/csv;charset=utf-8' });
    const a = document.createElement('a');
    a.href = URL.createObjectURL(blob);
    a.download = 'result.csv';
    document.body.appendChild(a);
    a.click();
    a.remove();
    setTimeout(() => URL.revokeObjectURL(a.href), 60000);
  }

  // An answer that is not 200: the service's error text when it sent one.
  function httpError(status, text) {
    try {
      const e = parseJson(text).get('error');
      if (e instanceof Obj) return 'HTTP ' + status + ': ' + e.get('type') + ': ' + e.get('message');
    } catch (err) { /* not JSON */ }
    return 'HTTP ' + status + (text ? ': ' + text : '');
  }

  // ---- Running a statement -----------------------------------------------------

  async function run() {
    if (running) return;
    const dsn = $('dsn').value.trim();
    const sql = $('sql').value;
    const mode = $('mode').value;
    clear();
    if (!sql.trim()) { $('status').textContent = ''; showError('Write a statement first.'); return; }
    const request = { M: mode, P1: dsn, P2: sql };
    const entry = { dsn, sql, mode };
    if (mode === 'query') {
      const record = Number($('record').value);
      if (!Number.isInteger(record) || record < -2147483648 || record > 2147483647) {
        showError('The record number must be a whole number (1 = first record, -1 = all).');
        return;
      }
      request.P3 = record;
      entry.record = record;
    }
    remember(entry);
    running = true;
    busy(true);
    $('run').disabled = true;
    $('status').textContent = 'Running\u2026';
    const started = performance.now();
    try {
      const response = await send(SERVICE, {
        method: 'POST',
        headers: { 'Content-Type': 'application/json' },
        body: JSON.stringify(request),
      });
      const text = await response.text();
      const ms = performance.now() - started;
      if (!response.ok) {
        $('status').textContent = 'Failed after ' + took(ms);
        showError(httpError(response.status, text));
        return;
      }
      const reply = parseJson(text);
      if (mode === 'query') {
        showLine(reply, ms);
      } else if (reply instanceof Obj && reply.get('Status') === true && Array.isArray(reply.get('Results'))) {
        showTable(reply.get('Results'), started, ms);
      } else if (reply instanceof Obj && reply.get('Status') === false) {
        $('status').textContent = 'Failed after ' + took(ms);
        const message = reply.get('Errmsg');
        showError(typeof message === 'string' && message ? message : 'The statement failed (no error text).');
      } else {
        showError('Unexpected reply: ' + text.slice(0, 500));
      }
    } catch (e) {
      $('status').textContent = '';
      showError(e instanceof SyntaxError ? e.message : 'Cannot reach the service: ' + e.message);
    } finally {
      running = false;
      if (!rendering) busy(false);
      $('run').disabled = false;
    }
  }

  function showLine(reply, ms) {
    if (typeof reply !== 'string') { showError('Unexpected reply: ' + JSON.stringify(reply)); return; }
    if (reply.startsWith('Error code = ')) {
      $('status').textContent = 'Failed after ' + took(ms);
      showError(reply);
      return;
    }
    $('status').textContent = (reply === '' ? 'Empty line (no such record, or no result set)' : 'Line') + ' in ' + took(ms);
    $('line').textContent = reply;
    $('line').hidden = reply === '';
  }

  function modeChanged() {
    $('record-box').hidden = $('mode').value !== 'query';
  }

  // ---- Wiring --------------------------------------------------------------------

  $('query-form').addEventListener('submit', (e) => { e.preventDefault(); run(); });
  $('sql').addEventListener('keydown', (e) => {
    if (e.key === 'Enter' && (e.ctrlKey || e.metaKey)) { e.preventDefault(); run(); }
  });
  $('mode').addEventListener('change', modeChanged);
  $('history').addEventListener('change', (e) => {
    const i = e.target.selectedIndex - 1;
    e.target.selectedIndex = 0;
    pick(i);
  });
  $('csv').addEventListener('click', download);
  $('previous').addEventListener('click', () => turnPage(-1));
  $('next').addEventListener('click', () => turnPage(1));
  modeChanged();
  showHistory();
  loadDsns();
})();
