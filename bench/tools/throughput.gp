# Requests per second (top) and p50 latency (bottom) against connections, per
# command, programs against floor.
# gnuplot -e "datafile='...'; outfile='...'; progs='program program_shared'"
set terminal pngcairo noenhanced size 1800,720 font ",10"
set output outfile
set datafile separator "\t"
set key top left
set grid
set logscale x 2
set xtics (1, 2, 4, 8)
set xrange [0.8:10]
set yrange [0:*]
commands = "test getsprfood getsprfoodgroup getsprstewards addorder"
series(cmd, who) = sprintf("< awk -F'\\t' '$1 == \"%s\" && $3 == \"%s\"' '%s' | sort -t'\t' -k2,2n", cmd, who, datafile)
set multiplot layout 2, 5 title "Requests through lighttpd: program against floor"
do for [i = 1:5] {
  cmd = word(commands, i)
  set title cmd
  set xlabel "connections"
  set ylabel "requests per second"
  plot for [w in progs." floor"] series(cmd, w) using 2:4 with linespoints lw 2 title w
}
do for [i = 1:5] {
  cmd = word(commands, i)
  set title cmd
  set xlabel "connections"
  set ylabel "p50 latency, ms"
  plot for [w in progs." floor"] series(cmd, w) using 2:5 with linespoints lw 2 title w
}
unset multiplot
