# Sourced by the benchmark scripts: DuckDB's node package in build/bench-peers
# ($duck), installed from npm the first time when npm is there. A script
# then tests for "$duck/node_modules/@duckdb/node-api" to know it can run.
duck=build/bench-peers
if command -v npm >/dev/null && [ ! -d "$duck/node_modules/@duckdb/node-api" ]; then
  mkdir -p "$duck" && (cd "$duck" && npm init -y >/dev/null && npm install --silent @duckdb/node-api >/dev/null 2>&1) || true
fi
mkdir -p "$duck"
