<?php
// Loads the service's classes and the test helpers.
declare(strict_types=1);

require_once __DIR__ . '/../../iconservice/lib/load.php';
foreach (['TempFolder', 'IconFactory', 'RawHttp', 'ServiceServer', 'RecordingPdo', 'StoredIcons'] as $unit) {
    require_once __DIR__ . "/support/$unit.php";
}
