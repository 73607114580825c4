<?php
// A minimal HTTP client over a plain socket, so that tests send exactly the bytes Talvenook sends
// (HTTP/1.0, its header set, the form body with a leading "&", its multipart layout).
declare(strict_types=1);

namespace IconService\Tests;

final class RawHttp
{
    /** $from: the local address to send from (e.g. 127.0.0.2, a client apart from 127.0.0.1); default the system's choice. */
    public function __construct(private string $host, private int $port, private ?string $from = null)
    {
    }

    /**
     * GET $target with extra header lines $headers (name => value); returns
     * ['status' => int, 'headers' => [lower-case name => value], 'body' => string].
     */
    public function get(string $target, array $headers = []): array
    {
        $lines = '';
        foreach ($headers as $name => $value) {
            $lines .= "$name: $value\r\n";
        }
        return $this->exchange("GET $target HTTP/1.0\r\nHost: {$this->host}:{$this->port}\r\n$lines\r\n");
    }

    /** POST an already encoded form body the way the program's existence query does. */
    public function postForm(string $target, string $body): array
    {
        return $this->exchange("POST $target HTTP/1.0\r\nConnection: keep-alive\r\nContent-Encoding: UTF-8\r\n"
            . "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " . strlen($body) . "\r\n"
            . "Host: {$this->host}\r\nAccept: text/html, */*\r\nAccept-Encoding: identity\r\n"
            . "User-Agent: Mozilla/3.0 (compatible; Talvenook)\r\n\r\n" . $body);
    }

    /**
     * POST a multipart body laid out as the program's upload does: text parts in $fields, then
     * the file part "icon" (when $iconBytes is not null) named $fileName with $contentType.
     */
    public function postUpload(string $target, array $fields, ?string $iconBytes,
        string $fileName = '/home/user/talvenook/image/0.ico', string $contentType = 'image/x-icon'): array
    {
        return $this->exchange($this->uploadRequest($target, $fields, $iconBytes, $fileName, $contentType));
    }

    /** The request postUpload sends. */
    public function uploadRequest(string $target, array $fields, ?string $iconBytes,
        string $fileName = '/home/user/talvenook/image/0.ico', string $contentType = 'image/x-icon'): string
    {
        $boundary = '--------' . date('mdyHis') . sprintf('%03d', random_int(0, 999));
        $body = '';
        foreach ($fields as $name => $value) {
            $body .= "--$boundary\r\nContent-Disposition: form-data; name=\"$name\"\r\n\r\n$value\r\n";
        }
        if ($iconBytes !== null) {
            $body .= "--$boundary\r\nContent-Disposition: form-data; name=\"icon\"; filename=\"$fileName\"\r\n"
                . "Content-Type: $contentType\r\n\r\n$iconBytes\r\n";
        }
        $body .= "--$boundary--\r\n";
        return "POST $target HTTP/1.0\r\nConnection: keep-alive\r\n"
            . "Content-Type: multipart/form-data; boundary=$boundary\r\nContent-Length: " . strlen($body) . "\r\n"
            . "Host: {$this->host}\r\nAccept: text/html, */*\r\nAccept-Encoding: identity\r\n"
            . "User-Agent: Mozilla/3.0 (compatible; Talvenook)\r\n\r\n" . $body;
    }

    /**
     * Sends all $requests at once: every connection is opened and its request written before
     * the first reply is read. Returns the replies in the order of $requests (as get() does).
     */
    public function exchangeAll(array $requests): array
    {
        $sockets = [];
        try {
            foreach ($requests as $key => $request) {
                $sockets[$key] = $this->connect();
                $this->send($sockets[$key], $request);
            }
            $replies = [];
            foreach ($sockets as $key => $socket) {
                $replies[$key] = self::parse(stream_get_contents($socket));
            }
            return $replies;
        } finally {
            foreach ($sockets as $socket) {
                fclose($socket);
            }
        }
    }

    /** Percent-encodes a form value as the program does: UTF-8 bytes above 0x7F, controls, "*#%<> []&+=". */
    public static function encodeValue(string $utf8): string
    {
        return preg_replace_callback('/[\x00-\x20\x7F-\xFF*#%<>\[\]&+=]/',
            static fn (array $m): string => sprintf('%%%02X', ord($m[0])), $utf8);
    }

    private function exchange(string $request): array
    {
        $socket = $this->connect();
        try {
            $this->send($socket, $request);
            $reply = stream_get_contents($socket);
        } finally {
            fclose($socket);
        }
        return self::parse($reply);
    }

    /** @return resource */
    private function connect()
    {
        $context = stream_context_create($this->from === null ? [] : ['socket' => ['bindto' => "{$this->from}:0"]]);
        $socket = @stream_socket_client("tcp://{$this->host}:{$this->port}", $errno, $error, 10, STREAM_CLIENT_CONNECT, $context);
        if ($socket === false) {
            throw new \RuntimeException("cannot connect to {$this->host}:{$this->port}: $error");
        }
        stream_set_timeout($socket, 60);
        return $socket;
    }

    /** @param resource $socket */
    private function send($socket, string $request): void
    {
        for ($sent = 0; $sent < strlen($request); $sent += $written) {
            $written = fwrite($socket, substr($request, $sent, 65536));
            if ($written === false || $written === 0) {
                throw new \RuntimeException('connection closed while sending');
            }
        }
    }

    private static function parse(string|false $reply): array
    {
        $reply = (string) $reply;
        [$head, $body] = explode("\r\n\r\n", $reply, 2) + [1 => ''];
        $lines = explode("\r\n", $head);
        if (preg_match('#^HTTP/\d\.\d (\d{3})#', $lines[0], $status) !== 1) {
            throw new \RuntimeException('not an HTTP reply: ' . substr($reply, 0, 80));
        }
        $headers = [];
        foreach (array_slice($lines, 1) as $line) {
            [$name, $value] = explode(':', $line, 2) + [1 => ''];
            $headers[strtolower(trim($name))] = trim($value);
        }
        return ['status' => (int) $status[1], 'headers' => $headers, 'body' => $body];
    }
}
