#!/bin/sh
# The tpic picture through its real peers: \input into a LaTeX document, latex, dvips, and
# Ghostscript at 300 dpi to a grey PNG, read back by the console program through png.spi into
# the data file again.   latex_peer.sh TPIC_HOST BIN_DIR OUTPUT_DIR
# Leaves the pages and pictures in OUTPUT_DIR for a person to look at.
set -eu
mkdir -p "$3"
host=$(realpath "$1")
bin=$(realpath "$2")
out=$(realpath "$3")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# Stored under the bare name, so reading back writes it into the current folder: 4 header
# bytes, the name, its terminator and 37 bytes.
printf 'Quorvel keeps a small file on paper.\n' > d

for size in 4000 2000; do
    rm -f pic.tpic
    printf '%s\n' "$size" | env -u DISPLAY -u WAYLAND_DISPLAY "$host" encode d pic 1 \
        > result 2> /dev/null
    if [ "$(head -n 1 result)" != "43 pic.tpic" ]; then
        echo "FAIL: size $size: $(cat result)"
        exit 1
    fi
    grep -q "^\\\\begin{picture}($size," pic.tpic || {
        echo "FAIL: size $size: picture box is $(sed -n 2p pic.tpic)"
        exit 1
    }
    # An empty page style: a page number would be one more dot on the page.
    cat > doc.tex <<'TEX'
\documentclass{article}
\pagestyle{empty}
\begin{document}
\input{pic.tpic}
\end{document}
TEX
    latex -interaction=nonstopmode -halt-on-error doc.tex > latex.log 2>&1 || {
        echo "FAIL: latex"
        cat latex.log
        exit 1
    }
    dvips -q -o doc.ps doc.dvi
    gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pnggray -r300 -sOutputFile="page$size.png" doc.ps
    cp "page$size.png" "$out/" && cp pic.tpic "$out/pic$size.tpic"
    # Ink on the page: the dots cover some of it, not all and not none. The same page as raw
    # grey bytes: count the dark ones behind the three header lines.
    gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pgmraw -r300 -sOutputFile=page.pgm doc.ps
    header=$(head -n 3 page.pgm | wc -c)
    total=$(($(wc -c < page.pgm) - header))
    dark=$(tail -c +"$((header + 1))" page.pgm | LC_ALL=C tr -d '\200-\377' | wc -c)
    echo "size $size: $dark of $total pixels dark"
    if [ "$dark" -lt $((total / 1000)) ] || [ "$dark" -gt $((total / 5)) ]; then
        echo "FAIL: size $size: the page holds no dot picture"
        exit 1
    fi

    if [ ! -x "$bin/quorvel" ] || [ ! -f "$bin/png.spi" ]; then
        echo "FAIL: $bin/quorvel or $bin/png.spi is not built"
        exit 1
    fi
    mkdir -p back && rm -f back/d
    (cd back && "$bin/quorvel" "../page$size.png") > read.log 2>&1 || true
    if ! cmp -s d back/d; then
        echo "FAIL: size $size: read back:"
        cat read.log
        exit 1
    fi
    echo "size $size: read back equal"
done
