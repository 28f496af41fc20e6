// Drives velto-mcp-server with the official MCP client SDK against a headless Velto API server.
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { mkdirSync, readFileSync, writeFileSync } from 'node:fs';
import { createServer } from 'node:net';
import { join } from 'node:path';
import { createInterface } from 'node:readline';

import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';

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
