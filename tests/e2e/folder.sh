# Lays out the prepared folder of the end-to-end suite in $1 (ASCII tab
# names, so the tab order is known; each FROM table ends its line, as the
# table list reads the name up to the line's end): a sales table, a 100k-row table, and
# queries with a caption, with an error and over the big table.
make_folder() {
  local dir=$1 generate=$2
  mkdir -p "$dir"
  printf 'id,city,qty\r\n1,Tokyo,5\r\n2,Osaka,\r\n3,tokyo,7\r\n' > "$dir/sales.csv"
  "$generate" 100000 "$dir/big.csv" 3
  printf 'SELECT city, SUM(qty) AS total\r\nFROM sales#csv\r\nGROUP BY city;\r\ncaption=Sales by city\r\nnote=Tokyo and tokyo are one city.\r\n' > "$dir/q~1sales.txt"
  printf 'SELECT id, qty\r\nFROM sales#csv\r\nORDER BY id;\r\n' > "$dir/q~2ids.txt"
  printf 'SELECT nope FROM sales#csv;\r\n' > "$dir/q~3error.txt"
  printf 'SELECT *\r\nFROM big#csv\r\nWHERE id <= 10;\r\n' > "$dir/q~4big.txt"
  "$generate" 3000000 "$dir/long.csv" 4
  printf 'SELECT COUNT(*)\r\nFROM long#csv\r\n;\r\n' > "$dir/q~5long.txt"
}
