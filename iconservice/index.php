<?php
// Talvenook icon service: front controller. The action comes from the query parameter "r":
//   sw/exist    POST name, version            -> {"success":true,"exist":true|false}
//   sw/upload   POST multipart name, version, file part icon -> {"success":true}
//   sw/gallery  GET [page]                    -> HTML page of the received icons (the default)
//   sw/icon     GET id                        -> the stored ICO file
// Refused requests get {"success":false,"error":"..."} with a 4xx status; storage failures 500.
declare(strict_types=1);

namespace IconService;

ini_set('display_errors', '0');
foreach (['Reply', 'FormField', 'IcoFile', 'Config', 'Storage', 'GalleryView', 'Actions'] as $unit) {
    require_once __DIR__ . "/lib/$unit.php";
}

$routes = [
    'sw/exist' => [Actions::class, 'exist'],
    'sw/upload' => [Actions::class, 'upload'],
    'sw/gallery' => [Actions::class, 'gallery'],
    'sw/icon' => [Actions::class, 'icon'],
];
$route = $_GET['r'] ?? 'sw/gallery';

try {
    if (!is_string($route) || !isset($routes[$route])) {
        throw new BadRequest('unknown action', 404);
    }
    $routes[$route]();
} catch (BadRequest $refusal) {
    Reply::failure($refusal->getCode(), $refusal->getMessage());
} catch (\Throwable $error) {
    error_log('icon service: ' . $error::class . ': ' . $error->getMessage());
    Reply::failure(500, 'internal error');
}
