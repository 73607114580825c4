<?php
// CPU time so far of the parts of a load run (bench/iconservice_load.sh), read from /proc: for
// each NAME=PID_FILE[,PID_FILE...] the processes named in those files and all their
// descendants (nginx's workers, php-fpm's workers, PostgreSQL's server processes), and the
// machine's busy time over all cores. A server process that ended counts through its parent
// (the time of waited-for children), so a worker that was replaced still counts.
//
//   php bench/iconservice_load_cpu.php nginx=DIR/nginx/master.pid php=DIR/node1/master.pid,...
//
// Prints one line "NAME=TICKS ... machine=TICKS at=SECONDS" (clock ticks, 100 a second; the time
// of reading); run it before and after a run and take the differences. A missing or stale pid
// file counts 0.
declare(strict_types=1);

/** [parent pid, own and waited-for children's ticks] of every process, by pid. */
function processes(): array
{
    $all = [];
    foreach (glob('/proc/[0-9]*/stat') ?: [] as $file) {
        $stat = @file_get_contents($file);
        if ($stat === false || ($end = strrpos($stat, ')')) === false) {
            continue;  // ended while being read
        }
        // After "pid (comm) ": state, ppid, ..., utime, stime, cutime, cstime (fields 14 to 17).
        $fields = explode(' ', substr($stat, $end + 2));
        $all[(int) basename(dirname($file))] = [(int) $fields[1], array_sum(array_map('intval', array_slice($fields, 11, 4)))];
    }
    return $all;
}

/** Ticks of $pid and of every descendant of it in $all. */
function treeTicks(int $pid, array $all, array $children): int
{
    if (!isset($all[$pid])) {
        return 0;
    }
    $ticks = $all[$pid][1];
    foreach ($children[$pid] ?? [] as $child) {
        $ticks += treeTicks($child, $all, $children);
    }
    return $ticks;
}

// The machine's busy time and the clock first, the processes right after: the line's ticks and
// its time are taken together. The first line of /proc/stat: user nice system idle iowait irq
// softirq steal ...; busy is all but idle and iowait.
$cpu = array_map('intval', array_slice(preg_split('/\s+/', trim(strtok((string) file_get_contents('/proc/stat'), "\n"))), 1));
$at = microtime(true);
$all = processes();
$children = [];
foreach ($all as $pid => [$parent]) {
    $children[$parent][] = $pid;
}
$out = [];
foreach (array_slice($argv, 1) as $argument) {
    [$name, $files] = explode('=', $argument, 2) + [1 => ''];
    $ticks = 0;
    foreach (array_filter(explode(',', $files)) as $file) {
        $pid = (int) trim((string) @file_get_contents($file));
        $ticks += $pid > 0 ? treeTicks($pid, $all, $children) : 0;
    }
    $out[] = "$name=$ticks";
}
$out[] = 'machine=' . (array_sum(array_slice($cpu, 0, 8)) - $cpu[3] - $cpu[4]);
$out[] = sprintf('at=%.3f', $at);
echo implode(' ', $out), "\n";
