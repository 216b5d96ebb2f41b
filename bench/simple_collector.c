/* The simplest collector a closed loop can be measured against: for each
 * datagram exactly 22 system calls, as the plainest design of filing one
 * single-record call makes them, and no work beyond them (no deciphering, no
 * parsing):
 *   recvfrom                                                         1
 *   stat of the data root and of the switch's folder                 2
 *   three record files (old text, new text, CSV):
 *     stat of the folder, open, fstat, write, close                 15
 *   the event log: open, write, close                                3
 *   sendto of the answer                                             1
 * usage: simple_collector PORT FOLDER   (runs until killed) */
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

static void appendLine(const char* folder, const char* name, const char* line, size_t length) {
    char path[8192];
    struct stat info;
    stat(folder, &info);
    snprintf(path, sizeof path, "%s/%s", folder, name);
    const int file = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (file < 0) return;
    fstat(file, &info);
    if (write(file, line, length) < 0) perror("write");
    close(file);
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: simple_collector PORT FOLDER\n");
        return 2;
    }
    const char* root = argv[2];
    char switchFolder[2048], newFolder[4096], oldFolder[4096], log[4096];
    snprintf(switchFolder, sizeof switchFolder, "%s/00-1A-2B-3C-4D-5E", root);
    snprintf(newFolder, sizeof newFolder, "%s/new", switchFolder);
    snprintf(oldFolder, sizeof oldFolder, "%s/old", switchFolder);
    snprintf(log, sizeof log, "%s/event.log", root);
    mkdir(switchFolder, 0777);
    mkdir(newFolder, 0777);
    mkdir(oldFolder, 0777);

    const int handle = socket(AF_INET, SOCK_DGRAM, 0);
    struct sockaddr_in local;
    memset(&local, 0, sizeof local);
    local.sin_family = AF_INET;
    local.sin_port = htons((unsigned short)atoi(argv[1]));
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(handle, (struct sockaddr*)&local, sizeof local) != 0) {
        perror("bind");
        return 1;
    }
    static char buffer[70000];
    for (;;) {
        struct sockaddr_in sender;
        socklen_t senderLength = sizeof sender;
        const ssize_t count = recvfrom(handle, buffer, sizeof buffer - 1, 0, (struct sockaddr*)&sender, &senderLength);
        if (count <= 0) continue;
        struct stat info;
        stat(root, &info);
        stat(switchFolder, &info);
        appendLine(oldFolder, "CDR.txt", buffer, (size_t)count);
        appendLine(newFolder, "CDR.txt", buffer, (size_t)count);
        appendLine(newFolder, "CDR.csv", buffer, (size_t)count);
        const int file = open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
        if (file >= 0) {
            if (write(file, buffer, (size_t)count) < 0) perror("write");
            close(file);
        }
        /* The answer: the text up to the first '&', as the plain mode's. */
        buffer[count] = 0;
        const char* ampersand = strchr(buffer, '&');
        const size_t answer = ampersand != NULL ? (size_t)(ampersand - buffer) : (size_t)count;
        sendto(handle, buffer, answer, 0, (struct sockaddr*)&sender, senderLength);
    }
}
