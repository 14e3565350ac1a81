# Time of one GetPSR call against the store's size; columns of data:
# sessions, Linux all delivered, Linux 1-byte buffer, floor, Wine all delivered (ms).
set terminal png size 640,400 font ",9"
set output output
set title "One GetPSR call: time against the number of sessions"
set xlabel "sessions in the store"
set ylabel "milliseconds"
set logscale xy
set format x "%.0s%c"
set grid
set key top left
set datafile missing "NaN"
plot data using 1:5 with linespoints title "Windows build under wine64, all delivered", \
     data using 1:2 with linespoints title "Linux build, all delivered", \
     data using 1:3 with linespoints title "Linux build, 1-byte buffer", \
     data using 1:4 with linespoints title "floor: read, write, fsync, rename"
