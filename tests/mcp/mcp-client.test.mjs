// Drives velto-mcp-server with the official MCP client SDK against a headless Velto API server.
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { mkdirSync, readFileSync, writeFileSync } from 'node:fs';
import { createServer } from 'node:net';
import { setTimeout as delay } from 'node:timers/promises';
import { join } from 'node:path';
import { createInterface } from 'node:readline';

import SwaggerParser from '@apidevtools/swagger-parser';
import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';
import Ajv2020 from 'ajv/dist/2020.js';

const bridgePath = process.env.VELTO_MCP_SERVER;
const apiServerPath = process.env.VELTO_API_TEST_SERVER;
assert.ok(bridgePath && apiServerPath, 'VELTO_MCP_SERVER and VELTO_API_TEST_SERVER must be set');

let apiServer;
let api; // { port, token, dir }
const clients = [];

async function connect(env) {
  const transport = new StdioClientTransport({ command: bridgePath, args: [], env, stderr: 'pipe' });
  const client = new Client({ name: 'velto-mcp-test', version: '1.0.0' });
  await client.connect(transport);
  clients.push(client);
  return client;
}

const text = (result) => result.content.map((c) => c.text).join('');
const json = (result) => JSON.parse(text(result));

function unusedPort() {
  return new Promise((resolve) => {
    const probe = createServer();
    probe.listen(0, '127.0.0.1', () => {
      const { port } = probe.address();
      probe.close(() => resolve(port));
    });
  });
}

before(async () => {
  apiServer = spawn(apiServerPath, [], { stdio: ['pipe', 'pipe', 'inherit'] });
  const lines = createInterface({ input: apiServer.stdout });
  api = await new Promise((resolve, reject) => {
    lines.once('line', (line) => resolve(JSON.parse(line)));
    apiServer.once('exit', (code) => reject(new Error(`API test server exited with ${code}`)));
  });
});

after(async () => {
  for (const client of clients) await client.close();
  apiServer.stdin.end();
  await new Promise((resolve) => apiServer.once('exit', resolve));
});

describe('velto-mcp-server', () => {
  let client;
  before(async () => {
    client = await connect({ VELTO_API_PORT: String(api.port), VELTO_API_TOKEN: api.token });
  });

  test('negotiates the current protocol and names itself', () => {
    assert.equal(client.getServerVersion().name, 'velto-mcp-server');
    assert.ok(client.getServerCapabilities().tools);
  });

  test('lists the document and workspace tools with JSON-schema inputs', async () => {
    const { tools } = await client.listTools();
    const names = tools.map((t) => t.name).sort();
    assert.deepEqual(names, [
      'create_document', 'get_document', 'get_frontmatter', 'get_outline', 'get_status',
      'get_workspace', 'insert_text', 'list_files', 'open_document', 'open_folder',
      'replace_text', 'save_document', 'search_document', 'set_document',
    ]);
    const insert = tools.find((t) => t.name === 'insert_text');
    assert.equal(insert.inputSchema.type, 'object');
    assert.deepEqual(insert.inputSchema.required, ['text']);
    assert.equal(insert.inputSchema.properties.line.type, 'integer');
  });

  test('reads and edits the open document', async () => {
    let r = await client.callTool({ name: 'set_document', arguments: { content: '# Start\n\nab\ncd' } });
    assert.equal(r.isError, false);
    assert.deepEqual(json(r), { length: 14, ok: true });

    r = await client.callTool({ name: 'insert_text', arguments: { text: 'X', line: 3, column: 1 } });
    assert.equal(json(r).ok, true);
    r = await client.callTool({ name: 'get_document', arguments: {} });
    assert.equal(text(r), '# Start\n\nab\ncXd');

    r = await client.callTool({ name: 'replace_text', arguments: { pattern: '(X)', replacement: '[$1]', regex: true } });
    assert.equal(json(r).replacements, 1);

    r = await client.callTool({ name: 'search_document', arguments: { query: 'c[X] & ?', regex: false } });
    assert.equal(json(r).count, 0);
    r = await client.callTool({ name: 'search_document', arguments: { query: '[X]' } });
    assert.deepEqual(json(r).results, [{ line: 3, match: '[X]' }]);

    r = await client.callTool({ name: 'get_outline', arguments: {} });
    assert.deepEqual(json(r).outline, [{ level: 1, line: 1, title: 'Start' }]);

    r = await client.callTool({ name: 'get_status', arguments: {} });
    assert.equal(json(r).isModified, true);
    assert.equal(json(r).running, true);

    await client.callTool({ name: 'set_document', arguments: { content: '---\ntitle: t\n---\nbody' } });
    r = await client.callTool({ name: 'get_frontmatter', arguments: {} });
    assert.deepEqual(json(r), { frontmatter: 'title: t', raw: true });
  });

  test('creates, opens and saves files and lists the folder', async () => {
    const folder = join(api.dir, 'notes');
    mkdirSync(folder, { recursive: true });
    writeFileSync(join(folder, 'a.md'), 'alpha');
    writeFileSync(join(folder, 'b.txt'), 'beta');

    // The document is modified and untitled: saving it first asks a panel, which is cancelled.
    let r = await client.callTool({ name: 'create_document', arguments: { content: 'x' } });
    assert.equal(r.isError, true);
    assert.equal(json(r).ok, false);

    r = await client.callTool({ name: 'open_document', arguments: { path: join(folder, 'a.md') } });
    assert.equal(r.isError, true, 'the unsaved document still blocks opening');

    const created = join(folder, 'c.md');
    await client.callTool({ name: 'set_document', arguments: { content: '' } });
    r = await client.callTool({ name: 'create_document', arguments: { path: created, content: 'gamma' } });
    assert.equal(r.isError, false, text(r));
    assert.equal(readFileSync(created, 'utf8'), 'gamma');

    r = await client.callTool({ name: 'open_document', arguments: { path: join(folder, 'a.md') } });
    assert.equal(json(r).path, join(folder, 'a.md'));
    await client.callTool({ name: 'insert_text', arguments: { text: '!', line: 0, column: 99 } });
    r = await client.callTool({ name: 'save_document', arguments: {} });
    assert.equal(json(r).ok, true);
    assert.equal(readFileSync(join(folder, 'a.md'), 'utf8'), 'alpha!');

    r = await client.callTool({ name: 'open_folder', arguments: { path: folder } });
    assert.equal(json(r).ok, true);
    let files = [];
    for (let i = 0; i < 100 && files.length === 0; i++) {
      r = await client.callTool({ name: 'list_files', arguments: { glob: '*.md' } });
      files = json(r).files;
      if (files.length === 0) await new Promise((resolve) => setTimeout(resolve, 50));
    }
    assert.deepEqual(files.map((f) => f.name), ['a.md', 'c.md']);

    r = await client.callTool({ name: 'open_document', arguments: { path: join(folder, 'missing.md') } });
    assert.equal(r.isError, true);
    assert.equal(json(r).ok, false);
  });

  test('reports missing or mistyped arguments as tool errors', async () => {
    let r = await client.callTool({ name: 'insert_text', arguments: {} });
    assert.equal(r.isError, true);
    assert.match(text(r), /text/);

    await client.callTool({ name: 'set_document', arguments: { content: 'ab\ncd' } });
    r = await client.callTool({ name: 'insert_text', arguments: { text: 'X', line: '1' } });
    assert.equal(r.isError, true);
    assert.match(text(r), /"line" must be an integer/);
    r = await client.callTool({ name: 'search_document', arguments: { query: 'a', regex: 'true' } });
    assert.equal(r.isError, true);
    r = await client.callTool({ name: 'get_document', arguments: {} });
    assert.equal(text(r), 'ab\ncd', 'nothing was inserted');
    // A null optional argument is left out.
    r = await client.callTool({ name: 'insert_text', arguments: { text: 'X', line: null } });
    assert.equal(r.isError, false, text(r));
    r = await client.callTool({ name: 'get_document', arguments: {} });
    assert.equal(text(r), 'Xab\ncd');
  });

  test('a document that reads like an error answer is still just the document', async () => {
    const content = '{"ok": false, "error": "not really"}';
    await client.callTool({ name: 'set_document', arguments: { content } });
    const r = await client.callTool({ name: 'get_document', arguments: {} });
    assert.equal(r.isError, false);
    assert.equal(text(r), content);
  });

  test('refuses unknown tools', async () => {
    await assert.rejects(client.callTool({ name: 'no_such_tool', arguments: {} }), /Unknown tool/);
  });
});

describe('velto-mcp-server failures', () => {
  test('says so when the token is wrong', async () => {
    const client = await connect({ VELTO_API_PORT: String(api.port), VELTO_API_TOKEN: 'wrong' });
    const r = await client.callTool({ name: 'get_status', arguments: {} });
    assert.equal(r.isError, true);
    assert.match(text(r), /VELTO_API_TOKEN/);
  });

  test('says so when Velto is not running', async () => {
    const port = await unusedPort();
    const client = await connect({ VELTO_API_PORT: String(port), VELTO_API_TOKEN: api.token });
    const r = await client.callTool({ name: 'get_document', arguments: {} });
    assert.equal(r.isError, true);
    assert.match(text(r), /not reachable/);
  });

  test('says so when the port setting is unusable', async () => {
    const client = await connect({ VELTO_API_PORT: '70000', VELTO_API_TOKEN: api.token });
    const r = await client.callTool({ name: 'get_status', arguments: {} });
    assert.equal(r.isError, true);
    assert.match(text(r), /VELTO_API_PORT/);
  });
});

// The bridge over its raw stdio, for messages the SDK would never send.
function rawBridge(env) {
  const child = spawn(bridgePath, [], { env, stdio: ['pipe', 'pipe', 'pipe'] });
  const lines = createInterface({ input: child.stdout });
  const queue = [];
  const waiting = [];
  lines.on('line', (line) => {
    const next = waiting.shift();
    if (next) next(line); else queue.push(line);
  });
  const nextLine = () => (queue.length ? Promise.resolve(queue.shift()) : new Promise((resolve) => waiting.push(resolve)));
  return {
    send: (message) => child.stdin.write(`${typeof message === 'string' ? message : JSON.stringify(message)}\n`),
    nextLine,
    next: async () => JSON.parse(await nextLine()),
    close: () => new Promise((resolve) => { child.once('exit', resolve); child.stdin.end(); }),
  };
}

// A stand-in for Velto that holds each request until the test answers it.
async function heldApi() {
  const held = [];
  const arrivals = [];
  const server = createServer((socket) => {
    let received = '';
    socket.on('data', (chunk) => {
      received += chunk;
      if (!received.includes('\r\n\r\n')) return;
      const entry = { socket, closed: new Promise((resolve) => socket.once('close', resolve)) };
      const next = arrivals.shift();
      if (next) next(entry); else held.push(entry);
    });
    socket.on('error', () => {});
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return {
    port: server.address().port,
    request: () => (held.length ? Promise.resolve(held.shift()) : new Promise((resolve) => arrivals.push(resolve))),
    close: () => new Promise((resolve) => server.close(resolve)),
  };
}

const callStatus = (id) => ({ jsonrpc: '2.0', id, method: 'tools/call', params: { name: 'get_status', arguments: {} } });

describe('velto-mcp-server protocol edges', () => {
  test('a null or structured id gets an error answer instead of silence', async () => {
    const bridge = rawBridge({ VELTO_API_PORT: String(api.port), VELTO_API_TOKEN: api.token });
    for (const id of [null, { a: 1 }]) {
      bridge.send({ jsonrpc: '2.0', id, method: 'ping' });
      const answer = await bridge.next();
      assert.equal(answer.id, null);
      assert.equal(answer.error.code, -32600);
    }
    await bridge.close();
  });

  test('a token with a line break is refused, not sent as a header', async () => {
    const bridge = rawBridge({ VELTO_API_PORT: String(api.port), VELTO_API_TOKEN: `${api.token}\r\nX-Injected: 1` });
    bridge.send(callStatus(1));
    const answer = await bridge.next();
    assert.equal(answer.result.isError, true);
    assert.match(answer.result.content[0].text, /line break/);
    await bridge.close();
  });

  test('pings are answered and cancellations honoured while a call waits', async () => {
    const velto = await heldApi();
    const bridge = rawBridge({ VELTO_API_PORT: String(velto.port), VELTO_API_TOKEN: 't' });
    bridge.send(callStatus(1));
    const first = await velto.request();
    bridge.send({ jsonrpc: '2.0', id: 2, method: 'ping' });
    assert.deepEqual(await bridge.next(), { id: 2, jsonrpc: '2.0', result: {} });

    // Cancelled: the request to Velto is dropped and the call gets no answer.
    bridge.send({ jsonrpc: '2.0', method: 'notifications/cancelled', params: { requestId: 1 } });
    await first.closed;
    bridge.send(callStatus(3));
    const second = await velto.request();
    // The answer is complete at its Content-Length; the connection may stay open.
    second.socket.write('HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 16\r\n\r\n{"running": true}');
    const answer = await bridge.next();
    assert.equal(answer.id, 3);
    assert.equal(answer.result.isError, false);
    assert.equal(answer.result.content[0].text, '{"running": true');
    second.socket.destroy();
    await bridge.close();
    await velto.close();
  });
});

describe('velto-mcp-server ids and answer sizes', () => {
  test('a numeric id comes back exactly as it was sent, however many digits it has', async () => {
    const velto = await heldApi();
    const bridge = rawBridge({ VELTO_API_PORT: String(velto.port), VELTO_API_TOKEN: 't' });
    bridge.send('{"jsonrpc":"2.0","id":12345678901234567890,"method":"ping"}');
    assert.equal(await bridge.nextLine(), '{"id":12345678901234567890,"jsonrpc":"2.0","result":{}}');
    bridge.send('{"jsonrpc":"2.0","id":-98765432109876543210,"method":"tools/call","params":{"name":"get_status","arguments":{}}}');
    const held = await velto.request();
    held.socket.end('HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 2\r\n\r\n{}');
    assert.match(await bridge.nextLine(), /^\{"id":-98765432109876543210,"jsonrpc":"2\.0","result":/);
    await bridge.close();
    await velto.close();
  });

  test('an answer larger than the API takes is refused without being read', async () => {
    const velto = await heldApi();
    const bridge = rawBridge({ VELTO_API_PORT: String(velto.port), VELTO_API_TOKEN: 't' });
    bridge.send(callStatus(7));
    const held = await velto.request();
    held.socket.write('HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 200000000\r\n\r\n');
    held.socket.write('x'.repeat(65536));
    const answer = await bridge.next();
    assert.equal(answer.id, 7);
    assert.equal(answer.result.isError, true);
    assert.match(answer.result.content[0].text, /larger than 1000000 bytes/);
    await held.closed;
    await bridge.close();
    await velto.close();
  });
});

describe('velto-mcp-server and large requests', () => {
  test('a document over the request cap is reported as too large', async () => {
    const client = await connect({ VELTO_API_PORT: String(api.port), VELTO_API_TOKEN: api.token });
    const r = await client.callTool({ name: 'set_document', arguments: { content: 'x'.repeat(1_100_000) } });
    assert.equal(r.isError, true);
    assert.match(text(r), /request too large/);
  });
});

async function apiCall(method, path, body) {
  const response = await fetch(`http://127.0.0.1:${api.port}${path}`, {
    method,
    headers: { Authorization: `Bearer ${api.token}`, ...(body ? { 'Content-Type': 'application/json' } : {}) },
    body: body ? JSON.stringify(body) : undefined,
  });
  return { status: response.status, type: response.headers.get('content-type'), text: await response.text() };
}

describe('OpenAPI document', () => {
  let doc;
  before(async () => {
    const response = await fetch(`http://127.0.0.1:${api.port}/api/openapi.json`);
    doc = await response.json();
  });

  test('is a valid OpenAPI 3.1 document', async () => {
    assert.equal(doc.openapi, '3.1.0');
    await SwaggerParser.validate(structuredClone(doc));
  });

  test('real answers, nulls included, match their schemas', async () => {
    // Plain JSON Schema 2020-12 as OpenAPI 3.1 uses it: 3.0's "nullable" (which Ajv would
    // otherwise honour) is an unknown keyword, and strict mode refuses it.
    const ajv = new Ajv2020({ strict: true });
    ajv.removeKeyword('nullable');
    // An untitled document without front matter: the nullable values are null.
    await apiCall('POST', '/api/document/create', { content: '# Plain\n\nno front matter' });
    const cases = [
      ['get', '/api/status'],
      ['get', '/api/workspace'],
      ['get', '/api/frontmatter'],
      ['post', '/api/document/save', {}],
      ['post', '/api/folder/open', { path: '' }],
      ['post', '/api/theme', { id: 'night' }],
      ['post', '/api/viewmode', { wide: true }],
      ['post', '/api/ai/provider', { provider: 'Ollama' }],
      ['get', '/api/screenshot/windows'],
      ['post', '/api/app/settings', {}],
    ];
    for (const [method, path, body] of cases) {
      const answer = await apiCall(method.toUpperCase(), path, body);
      const schema = doc.paths[path][method].responses['200'].content['application/json'].schema;
      const value = JSON.parse(answer.text);
      assert.ok(ajv.validate(schema, value), `${path}: ${ajv.errorsText()} in ${answer.text}`);
    }
    const status = JSON.parse((await apiCall('GET', '/api/status')).text);
    assert.equal(status.selectedFile, null);
    assert.equal(status.folderURL, null, 'an empty folder path closes the folder');
  });

  test('every documented operation answers, none says "not available"', async () => {
    for (const [path, operations] of Object.entries(doc.paths)) {
      for (const method of Object.keys(operations)) {
        const target = path === '/api/preview/eval' ? `${path}?js=1` : path;
        const answer = await apiCall(method.toUpperCase(), target, method === 'post' ? {} : undefined);
        assert.equal(answer.status === 200 || answer.status === 400, true, `${method} ${path}: ${answer.status}`);
        assert.doesNotMatch(answer.text, /not available/, `${method} ${path}`);
      }
    }
  });
});
