/* A host built against an installed package: it includes the header as installed, links the
 * library, and proves that the library finds its decoder beside itself by streaming from a
 * loopback server of its own (the decoder is loaded once the connection stands). Exit 0 on
 * success. */
#define _POSIX_C_SOURCE 200809L
#include <kesto/video_client.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdatomic.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

static atomic_int decoderLoaded;

static void KESTO_CALL OnMessage(int32_t code, const char* text, int64_t timeMs) {
    (void)timeMs;
    if (text == NULL) return;
    printf("message %d: %s\n", (int)code, text);
    if (strncmp(text, "DecoderLib Initialized", 22) == 0) atomic_store(&decoderLoaded, 1);
}

int main(void) {
    if (SetCallbackFunc(OnMessage) != KESTO_S_OK) return 1;
    /* A listener on an ephemeral loopback port: the connection waits in its backlog and is
     * closed unanswered at the end. */
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener < 0 || bind(listener, (struct sockaddr*)&address, sizeof address) != 0 ||
        listen(listener, 1) != 0 ||
        getsockname(listener, (struct sockaddr*)&address, &length) != 0) {
        return 5;
    }
    char uri[64];
    snprintf(uri, sizeof uri, "tcp://127.0.0.1:%u", (unsigned)ntohs(address.sin_port));
    if (StartServerStream("consumer", uri) != KESTO_S_OK) return 2;
    for (int i = 0; i < 500 && !atomic_load(&decoderLoaded); ++i) {
        const struct timespec pause = {0, 10 * 1000 * 1000};
        nanosleep(&pause, NULL);
    }
    StopServerStream("consumer");
    close(listener);
    DestroyClient();
    SetCallbackFunc(NULL);
    if (!atomic_load(&decoderLoaded)) return 4;
    puts("consumer: ok");
    return 0;
}
