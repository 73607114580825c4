<?php
// Set-up of the icon service, run once each time it is started (tools/service_control.sh does):
// refuses a data folder inside the document root, creates the data folder, the table and its
// index, switches SQLite to write-ahead logging, and removes icon files that no row names (what a
// crash can leave). Requests then do none of this.
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
    $removed = Config::storage([$documentRoot])->prepare();
} catch (\Throwable $error) {
    fwrite(STDERR, 'icon service: refusing to start: ' . $error->getMessage() . "\n");
    exit(1);
}
echo 'icon service: data in ', Config::dataFolder(), ", storage ready, $removed left-over icon files removed\n";
