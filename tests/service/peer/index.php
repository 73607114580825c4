<?php
// A stand-in icon service for the peer test: reports, as JSON, what PHP's own request parsers
// decoded from the program's requests (the query, the form fields, and for every file part its
// client file name, full path, content type and bytes as hex).
declare(strict_types=1);

header('Content-Type: application/json; charset=utf-8');
$files = [];
foreach ($_FILES as $field => $file) {
    $ok = $file['error'] === UPLOAD_ERR_OK;
    $files[$field] = [
        'name' => $file['name'],
        'full_path' => $file['full_path'] ?? '',
        'type' => $file['type'],
        'error' => $file['error'],
        'size' => $file['size'],
        'hex' => $ok ? bin2hex((string) file_get_contents($file['tmp_name'])) : '',
    ];
}
$reply = ['success' => true, 'r' => $_GET['r'] ?? '', 'post' => $_POST, 'files' => (object) $files];
if (($_GET['r'] ?? '') === 'sw/exist') {
    $reply['exist'] = false;
}
echo json_encode($reply, JSON_UNESCAPED_UNICODE | JSON_UNESCAPED_SLASHES);
