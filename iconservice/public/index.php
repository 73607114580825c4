<?php
// Talvenook icon service: front controller. The action comes from the query parameter "r":
//   sw/exist    POST name, version            -> {"success":true,"exist":true|false}
//   sw/upload   POST multipart name, version, file part icon -> {"success":true}
//   sw/gallery  GET [before]                  -> HTML page of the received icons (the default)
//   sw/icon     GET sha256 (or id)            -> the stored ICO file, cached by its digest
//   sw/health   GET                           -> {"success":true}, or 503 when the database is down
// Refused requests get {"success":false,"error":"..."} with a 4xx status (403 for existence
// queries and uploads from outside the networks that may send icons); storage failures 500.
// This folder is the document root: it holds nothing but this file, and the service refuses to
// work when its data folder lies inside it (see Config).
declare(strict_types=1);

namespace IconService;

ini_set('display_errors', '0');
require_once __DIR__ . '/../lib/load.php';

// Whatever the web server serves lies below its document root and below this file's folder.
$documentRoots = array_unique(array_filter([$_SERVER['DOCUMENT_ROOT'] ?? '', __DIR__]));
$actions = new Actions(static fn (): Storage => Config::storage($documentRoots), static fn (): ClientNetworks => Config::writers());
$routes = [
    'sw/exist' => [$actions, 'exist'],
    'sw/upload' => [$actions, 'upload'],
    'sw/gallery' => [$actions, 'gallery'],
    'sw/icon' => [$actions, 'icon'],
    'sw/health' => [$actions, 'health'],
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
