#!/usr/bin/env bash
# Lays out sample software and a catalogue for Talvenook in FOLDER:
#   FOLDER/samples/...           Windows executables with icons and version resources
#   FOLDER/DB/REDU.sqlite        table software_data: one pending row per sample (pin '0',
#                                exticon '1'), plus one row already sent and one without icon
# Names include spaces, "&", "+", "=", an apostrophe, CJK and accented letters.
# Usage: tools/sample_catalogue.sh FOLDER MAKE_SAMPLE_PE
# Prints the number of pending rows it wrote.
set -euo pipefail

folder=$1
generator=$2
mkdir -p "$folder/DB" "$folder/samples"

# name | version | path under samples/ | icon seed
samples=(
  "Aurora Editor|2.4.1.0|Aurora/aurora.exe|0"
  "Tom & Jerry's Paint|1.0.3.7|Program Files/Tom and Jerry/paint.exe|1"
  "文字处理器 专业版|5.1.0.2|WordPro/文字处理器.exe|2"
  "Café Crème Studio|3.0.0.12|Café Crème/studio.exe|3"
  "Notepad++|8.6.2.0|Notepad++/notepad++.exe|4"
  "Rechner für Zahlen = Spaß|0.9.1.4|Rechner/rechner.exe|5"
)

sql_text() { printf "'%s'" "${1//\'/\'\'}"; }

sql="CREATE TABLE software_data (ID INTEGER PRIMARY KEY, softname TEXT, exepath TEXT, pin TEXT, exticon TEXT);"
id=1
for sample in "${samples[@]}"; do
  IFS='|' read -r name version path seed <<<"$sample"
  exe="$(cd "$folder" && pwd)/samples/$path"
  mkdir -p "$(dirname "$exe")"
  "$generator" "$exe" "$version" "$seed"
  sql+="INSERT INTO software_data VALUES ($id, $(sql_text "$name"), $(sql_text "$exe"), '0', '1');"
  id=$((id + 1))
done
# Rows the pass must leave alone: already sent, and catalogued without an icon.
first="$(cd "$folder" && pwd)/samples/Aurora/aurora.exe"
sql+="INSERT INTO software_data VALUES (100, 'Already Sent', $(sql_text "$first"), '1', '1');"
sql+="INSERT INTO software_data VALUES (101, 'No Icon Wanted', $(sql_text "$first"), '0', '0');"

rm -f "$folder/DB/REDU.sqlite"
sqlite3 "$folder/DB/REDU.sqlite" "$sql"
echo "${#samples[@]}"
