// The storage end of the upload benchmark: an HTTPS server on 127.0.0.1 that reads every PUT
// body to its end, keeps none of it, and answers 200 {"ok":true} when the body was as long as
// its Content-Length said (400 otherwise). Prints its port on the first line of standard
// output once it listens, then serves until it is terminated.
//
// Usage: zelt-discard-server CERTIFICATE.pem KEY.pem

#include <cstdio>
#include <httplib.h>
#include <string>

int main(int argc, char *argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s CERTIFICATE.pem KEY.pem\n", argv[0]);
        return 2;
    }
    httplib::SSLServer server(argv[1], argv[2]);
    if (!server.is_valid()) {
        std::fprintf(stderr, "zelt-discard-server: cannot use %s and %s\n", argv[1], argv[2]);
        return 1;
    }
    server.set_read_timeout(60);
    server.Put(".*", [](const httplib::Request &request, httplib::Response &response,
                        const httplib::ContentReader &reader) {
        unsigned long long received = 0;
        reader([&received](const char *, size_t length) {
            received += length;
            return true;
        });
        const auto expected = request.get_header_value("Content-Length");
        if (expected.empty() || std::stoull(expected) != received) {
            response.status = 400;
            response.set_content("{\"ok\":false}", "application/json");
            return;
        }
        response.set_content("{\"ok\":true}", "application/json");
    });

    const int port = server.bind_to_any_port("127.0.0.1");
    if (port <= 0) {
        std::fprintf(stderr, "zelt-discard-server: cannot listen on 127.0.0.1\n");
        return 1;
    }
    std::printf("%d\n", port);
    std::fflush(stdout);
    return server.listen_after_bind() ? 0 : 1;
}
