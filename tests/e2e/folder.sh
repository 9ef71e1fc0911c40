# Lays out the prepared folder of the end-to-end suite in $1 (ASCII tab
# names, so the tab order is known; each FROM table ends its line, as the
# table list reads the name up to the line's end): a sales table, a 100k-row table, and
# queries with a caption, with an error and over the big table; a FIFO table
# and a FIFO query file; a long query for saves that get killed.
make_folder() {
  local dir=$1 generate=$2
  mkdir -p "$dir"
  printf 'id,city,qty\r\n1,Tokyo,5\r\n2,Osaka,\r\n3,tokyo,7\r\n' > "$dir/sales.csv"
  "$generate" 100000 "$dir/big.csv" 3
  printf 'SELECT city, SUM(qty) AS total\r\nFROM sales#csv\r\nGROUP BY city;\r\ncaption=Sales by city\r\nnote=Tokyo  and  tokyo    are one <b>city</b>.\r\n' > "$dir/q~1sales.txt"
  printf 'SELECT id, qty\r\nFROM sales#csv\r\nORDER BY id;\r\n' > "$dir/q~2ids.txt"
  printf 'SELECT nope FROM sales#csv;\r\n' > "$dir/q~3error.txt"
  printf 'SELECT *\r\nFROM big#csv\r\nWHERE id <= 10;\r\n' > "$dir/q~4big.txt"
  "$generate" 6000000 "$dir/long.csv" 4
  printf 'SELECT COUNT(*)\r\nFROM long#csv\r\n;\r\n' > "$dir/q~5long.txt"
  # What an unlucky folder holds: a FIFO named like a table, a query file that is a FIFO.
  mkfifo "$dir/pipe.csv" "$dir/q~7fifo.txt"
  printf 'SELECT *\r\nFROM pipe#csv\r\n;\r\n' > "$dir/q~6pipe.txt"
  printf 'SELECT id\r\nFROM long#csv\r\nWHERE id <= 1234567\r\n;\r\n' > "$dir/q~9count.txt"
  # A total over 6M rows that takes seconds, with a caption: its popup holds the activation.
  # (HAVING of an expression's Max keeps it on SQLite's row by row way.)
  printf 'SELECT Left(name, 4) AS slowkey, Count(*) AS slowcount\r\nFROM long#csv\r\nGROUP BY Left(name, 4)\r\nHAVING Max(Len(name)) > 0;\r\ncaption=Slow total\r\n' > "$dir/q~zslow.txt"
  # A query long enough that a kill can land inside its save.
  { printf 'SELECT id\r\nFROM sales#csv\r\n;\r\n'; seq -f '-- line %g of a long comment that makes the file long' 60000 | sed 's/$/\r/'; } > "$dir/q~8save.txt"
}
