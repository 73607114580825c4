<?php
// The four actions of the service, each reading its request and sending its reply.
declare(strict_types=1);

namespace IconService;

final class Actions
{
    /** $storage opens the service's storage; called only by the actions that need it. */
    public function __construct(private \Closure $storage)
    {
    }

    /** r=sw/exist: POST name, version -> {"success":true,"exist":bool}. */
    public function exist(): void
    {
        self::requireMethod('POST');
        $name = FormField::text($_POST, 'name', FormField::NAME_MAX_CHARS);
        $version = FormField::text($_POST, 'version', FormField::VERSION_MAX_CHARS);
        $exists = ($this->storage)()->exists($name, $version);
        Reply::json(200, ['success' => true, 'exist' => $exists]);
    }

    /** r=sw/upload: multipart name, version and file part icon -> {"success":true}. */
    public function upload(): void
    {
        self::requireMethod('POST');
        self::refuseDroppedBody();
        $name = FormField::text($_POST, 'name', FormField::NAME_MAX_CHARS);
        $version = FormField::text($_POST, 'version', FormField::VERSION_MAX_CHARS);
        $icon = self::uploadedIcon();
        $problem = IcoFile::problem($icon);
        if ($problem !== null) {
            throw new BadRequest($problem);
        }
        ($this->storage)()->store($name, $version, $icon);
        Reply::json(200, ['success' => true]);
    }

    /** r=sw/gallery[&page=N]: the HTML gallery. */
    public function gallery(): void
    {
        self::requireMethod('GET');
        $storage = ($this->storage)();
        $total = $storage->count();
        $pages = max(1, intdiv($total + GalleryView::PAGE_SIZE - 1, GalleryView::PAGE_SIZE));
        $page = min($pages, max(1, self::positiveInteger($_GET['page'] ?? '1') ?? 1));
        $rows = $storage->newest(($page - 1) * GalleryView::PAGE_SIZE, GalleryView::PAGE_SIZE);
        header('Content-Type: text/html; charset=utf-8');
        header("Content-Security-Policy: default-src 'none'; img-src 'self'; style-src 'unsafe-inline'");
        header('X-Content-Type-Options: nosniff');
        echo GalleryView::render($rows, $page, $pages, $total);
    }

    /** r=sw/icon&id=N: the stored ICO file as image/x-icon. */
    public function icon(): void
    {
        self::requireMethod('GET');
        $id = self::positiveInteger($_GET['id'] ?? '');
        if ($id === null) {
            throw new BadRequest('missing or invalid id');
        }
        $bytes = ($this->storage)()->iconBytes($id);
        if ($bytes === null) {
            throw new BadRequest('no such icon', 404);
        }
        header('Content-Type: image/x-icon');
        header('Content-Length: ' . strlen($bytes));
        // A second upload replaces the icon under the same id: let browsers ask again each time.
        header('Cache-Control: no-cache');
        header('X-Content-Type-Options: nosniff');
        echo $bytes;
    }

    private static function requireMethod(string $method): void
    {
        $actual = $_SERVER['REQUEST_METHOD'] ?? 'GET';
        if ($actual === $method || ($method === 'GET' && $actual === 'HEAD')) {
            return;
        }
        header('Allow: ' . ($method === 'GET' ? 'GET, HEAD' : $method));
        throw new BadRequest("method $actual not allowed", 405);
    }

    /** PHP drops every field of a body over post_max_size; say so instead of "missing field". */
    private static function refuseDroppedBody(): void
    {
        $length = (int) ($_SERVER['CONTENT_LENGTH'] ?? 0);
        if ($_POST === [] && $_FILES === [] && $length > self::iniBytes((string) ini_get('post_max_size'))) {
            throw new BadRequest('request body is too large', 413);
        }
    }

    /** The bytes of the file part "icon", or throws BadRequest. */
    private static function uploadedIcon(): string
    {
        $file = $_FILES['icon'] ?? null;
        if ($file === null || ($file['error'] ?? null) === UPLOAD_ERR_NO_FILE) {
            throw new BadRequest('missing file part: icon');
        }
        if (!is_string($file['tmp_name'] ?? null) || !is_int($file['error'] ?? null)) {
            throw new BadRequest('file part icon must be a single file');
        }
        switch ($file['error']) {
            case UPLOAD_ERR_OK:
                break;
            case UPLOAD_ERR_INI_SIZE:
            case UPLOAD_ERR_FORM_SIZE:
                throw new BadRequest('icon file is larger than 1 MiB');
            case UPLOAD_ERR_PARTIAL:
                throw new BadRequest('icon file arrived incomplete');
            default:
                throw new \RuntimeException('upload failed on the server, PHP upload error ' . $file['error']);
        }
        if ($file['size'] > IcoFile::MAX_BYTES) {
            throw new BadRequest('icon file is larger than 1 MiB');
        }
        $bytes = file_get_contents($file['tmp_name']);
        if ($bytes === false) {
            throw new \RuntimeException('cannot read the uploaded file');
        }
        return $bytes;
    }

    private static function positiveInteger(mixed $text): ?int
    {
        if (!is_string($text) || preg_match('/^[1-9][0-9]{0,17}$/', $text) !== 1) {
            return null;
        }
        return (int) $text;
    }

    private static function iniBytes(string $value): int
    {
        $number = (int) $value;
        return match (strtoupper(substr(trim($value), -1))) {
            'G' => $number << 30,
            'M' => $number << 20,
            'K' => $number << 10,
            default => $number,
        };
    }
}
