<?php
// Removes a wrong icon: the row of one software name and version, and the icon's bytes when no
// other row names them. An administrator's command, run beside the service (same environment
// as setup.php and the service, see lib/Config.php); the next upload of that name and version
// stores its icon afresh.
//
//   php iconservice/remove.php NAME VERSION
//
// Prints what it removed. Exit status 0 when a row was removed, 1 when none was stored for NAME
// and VERSION, 2 on wrong usage or when the storage fails.
declare(strict_types=1);

namespace IconService;

require_once __DIR__ . '/lib/load.php';

if ($argc !== 3) {
    fwrite(STDERR, "usage: php iconservice/remove.php NAME VERSION\n");
    exit(2);
}
[, $name, $version] = $argv;
try {
    $removed = Config::storage([Config::defaultDocumentRoot()])->remove($name, $version);
} catch (\Throwable $error) {
    fwrite(STDERR, 'icon service: nothing removed: ' . $error->getMessage() . "\n");
    exit(2);
}
if ($removed === null) {
    echo "nothing to remove: no icon is stored for \"$name\" version \"$version\"\n";
    exit(1);
}
echo "removed \"$name\" version \"$version\": icon {$removed['sha256']} ({$removed['size']} bytes), ",
    $removed['icon_removed'] ? 'its bytes too (no other row named them)' : 'its bytes kept (another row names them)', "\n";
