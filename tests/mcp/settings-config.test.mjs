// The MCP configuration exactly as the settings window copies it, handed to the official MCP
// client SDK: it must start the installed bridge and reach the running program.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { existsSync } from 'node:fs';
import { basename, isAbsolute } from 'node:path';
import { createInterface } from 'node:readline';

import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';

const probePath = process.env.VELTO_SETTINGS_PROBE;
assert.ok(probePath, 'VELTO_SETTINGS_PROBE must be set');

let probe;
let copied; // { config, document }

before(async () => {
  probe = spawn(probePath, [], { stdio: ['pipe', 'pipe', 'inherit'] });
  const lines = createInterface({ input: probe.stdout });
  copied = await new Promise((resolve, reject) => {
    lines.once('line', (line) => resolve(JSON.parse(line)));
    probe.once('exit', (code) => reject(new Error(`settings probe exited with ${code}`)));
  });
});

after(async () => {
  probe.stdin.end();
  await new Promise((resolve) => probe.once('exit', resolve));
});

test('the copied configuration starts the bridge, lists the tools and reads the document', async () => {
  const { mcpServers } = JSON.parse(copied.config);
  assert.deepEqual(Object.keys(mcpServers), ['velto']);
  const { command, env } = mcpServers.velto;
  assert.ok(isAbsolute(command) && existsSync(command), command);
  assert.equal(basename(command), 'velto-mcp-server');
  assert.deepEqual(Object.keys(env), ['VELTO_API_PORT', 'VELTO_API_TOKEN']);

  const client = new Client({ name: 'velto-settings-test', version: '1.0.0' });
  await client.connect(new StdioClientTransport({ command, env, stderr: 'pipe' }));
  try {
    const { tools } = await client.listTools();
    assert.ok(tools.some((t) => t.name === 'get_document'));
    assert.ok(tools.some((t) => t.name === 'insert_text'));
    const result = await client.callTool({ name: 'get_document', arguments: {} });
    assert.equal(result.isError, false);
    assert.equal(result.content.map((c) => c.text).join(''), copied.document);
  } finally {
    await client.close();
  }
});
