<?php
// Loads the service's classes and the test helpers.
declare(strict_types=1);

foreach (['Reply', 'FormField', 'IcoFile', 'Config', 'Storage', 'GalleryView', 'Actions'] as $unit) {
    require_once __DIR__ . "/../../iconservice/lib/$unit.php";
}
foreach (['TempFolder', 'IconFactory', 'RawHttp', 'ServiceServer'] as $unit) {
    require_once __DIR__ . "/support/$unit.php";
}
