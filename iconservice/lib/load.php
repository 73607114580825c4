<?php
// Loads every unit of the service, for the front controller, the set-up script and the tests.
declare(strict_types=1);

foreach (['Reply', 'FormField', 'IcoFile', 'ClientNetworks', 'Config', 'Database', 'IconFolder', 'Storage', 'GalleryView', 'Actions']
    as $unit) {
    require_once __DIR__ . "/$unit.php";
}
