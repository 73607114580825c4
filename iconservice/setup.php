<?php
// Set-up of the icon service, run once each time it is started (tools/service_control.sh does):
// refuses a data folder inside the document root and a list of writer networks that does not
// parse, creates the tables and their indexes, switches
// SQLite to write-ahead logging, takes over the icon files of a data folder of the time when
// icons were files (read into the database once, the files left as they are), and removes icons
// that no row names (what a crash can leave). Requests then do none of this.
//
//   php iconservice/setup.php [DOCUMENT_ROOT]      (default: iconservice/public)
//
// Reads the same environment as the service (see lib/Config.php). Exit status 0 when the service
// may start; 1 with the reason on standard error when it must not.
declare(strict_types=1);

namespace IconService;

require_once __DIR__ . '/lib/load.php';

$documentRoot = $argv[1] ?? Config::defaultDocumentRoot();
try {
    Config::writers();
    $done = Config::storage([$documentRoot])->prepare(Config::legacyIconFolder());
} catch (\Throwable $error) {
    fwrite(STDERR, 'icon service: refusing to start: ' . $error->getMessage() . "\n");
    exit(1);
}
echo 'icon service: storage ready; ', $done['imported'], ' icon files taken over, ', $done['dropped'],
    ' rows without their icon file dropped (their icons will be sent again), ', $done['removed'], " unused icons removed\n";
