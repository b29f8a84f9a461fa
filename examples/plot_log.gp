# Plots a log of log_ead.sh as a PNG.
# Usage: gnuplot -e "log='log.csv'; png='log.png'" plot_log.gp
if (!exists("log")) log = "log.csv"
if (!exists("png")) png = "log.png"
if (!exists("title")) title = "vardel1 ead 0 every 100 ms"
if (!exists("unit")) unit = "pH"

set terminal pngcairo size 800,400 font ",10"
set output png
set datafile separator ","
set key autotitle columnhead
set title title
set xlabel "time since the log started (s)"
set ylabel unit
set grid
plot log using ($1 / 1000):2 with linespoints pointtype 7 pointsize 0.6 title "reading"
