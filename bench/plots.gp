# The benchmark's plots, from the data files that zqbench-report writes.
#   gnuplot -e "datadir='DIR'; outdir='DIR'" bench/plots.gp
set terminal pngcairo size 800,420 font "DejaVu Sans,10"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set boxwidth 0.9
set grid ytics
set key top left
set yrange [0:*]

set output outdir."/bench-speed.png"
set title "Extraction speed: inflated MB/s from process start (higher is better)"
set ylabel "MB/s"
# The build before the last changes is measured by the full run only.
hasrec = system("awk '!/^#/ && $NF != \"NaN\" {n++} END {print n+0}' ".datadir."/speed.dat") + 0
if (hasrec > 0) {
  plot datadir."/speed.dat" using 2:xtic(1) title "ZQ Installer as built (to the wizard)" lc rgb "#2b6cb0", \
       "" using 5 title "ZQ Installer before the last changes" lc rgb "#90cdf4", \
       "" using 3 title "NSIS 3.08, zlib, /S" lc rgb "#c05621", \
       "" using 4 title "floor (inflate + data file + copy)" lc rgb "#718096"
} else {
  plot datadir."/speed.dat" using 2:xtic(1) title "ZQ Installer as built (to the wizard)" lc rgb "#2b6cb0", \
       "" using 3 title "NSIS 3.08, zlib, /S" lc rgb "#c05621", \
       "" using 4 title "floor (inflate + data file + copy)" lc rgb "#718096"
}

set output outdir."/bench-memory.png"
set title "Memory of the setup at the wizard, by payload size"
set ylabel "MiB"
plot datadir."/memory.dat" using 2:xtic(1) title "peak working set" lc rgb "#2b6cb0", \
     "" using 3 title "private resident (RssAnon)" lc rgb "#68d391"

set output outdir."/bench-size.png"
set title "Size of the program in front of the payload (lower is better)"
set ylabel "bytes"
set key off
set xtics rotate by -20
set arrow 1 from graph 0, first 29184 to graph 1, first 29184 nohead lc rgb "#c53030" dt 2
set label 1 "goal: 29,184" at graph 0.01, first 29184 offset 0,0.7 tc rgb "#c53030"
plot datadir."/size.dat" using 2:xtic(1) lc rgb "#2b6cb0"
unset arrow 1
unset label 1

# Only the full run measures the variants.
if (system("grep -c '^\"' ".datadir."/variants.dat") + 0 == 0) exit
set output outdir."/bench-variants.png"
set title "Where the time goes at the largest payload (seconds, lower is better)"
set ylabel "s"
set xtics rotate by -30
plot datadir."/variants.dat" using 2:xtic(1) lc rgb "#4a5568"
