#!/bin/sh
# Writes the grid maps of the bundled example: a synthetic valley of 30 m cells,
# 80 rows by 60 columns, whose watershed is the ellipse inscribed in the grid. The
# ground falls 1 percent along the valley towards row 80 and 5 percent from the
# valley axis (column 30) to either side, so all water drains to the outlet at
# row 80, column 30. Roughness is 0.04 on the valley floor (within one column of
# the axis) and 0.06 on the hillslopes. Run it in examples/valley to rebuild
# valley.mask, valley.elv and valley.man.
set -eu
rows=80 cols=60 dx=30
header() {
    echo "north: $((rows * dx)).0"
    echo "south: 0.0"
    echo "east: $((cols * dx)).0"
    echo "west: 0.0"
    echo "rows: $rows"
    echo "cols: $cols"
}
# kind: mask (1 inside, 0 outside), elevation (m) or roughness (Manning n).
grid() {
    awk -v rows="$rows" -v cols="$cols" -v dx="$dx" -v kind="$1" 'BEGIN {
        axis = 30
        for (r = 1; r <= rows; r++) {
            line = ""
            for (c = 1; c <= cols; c++) {
                u = (c - (cols + 1) / 2) / (cols / 2 - 0.5)
                v = (r - (rows + 1) / 2) / (rows / 2)
                inside = (u * u + v * v <= 1.0)
                side = c - axis; if (side < 0) side = -side
                if (kind == "mask") value = sprintf("%d", inside)
                else if (kind == "elevation")
                    value = sprintf("%.2f", 200.0 + 0.01 * (rows - r) * dx + 0.05 * side * dx)
                else value = sprintf("%.2f", side <= 1 ? 0.04 : 0.06)
                line = line (c > 1 ? " " : "") value
            }
            print line
        }
    }'
}
{ header; grid mask; } > valley.mask
{ header; grid elevation; } > valley.elv
{ header; grid roughness; } > valley.man
