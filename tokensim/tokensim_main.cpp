// tokensim: the virtual token server and its control command.
//   tokensim serve --state DIR [--port N] [--port-file FILE]
//   tokensim ctl [--addr 127.0.0.1:PORT | --port N | --port-file FILE] COMMAND [ARGS...]
// Without an address option, ctl uses the environment variable UK_VIRTUAL_TOKEN.
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#include <string>

#include "sim_server.h"
#include "uk_simnet.h"

namespace {

int usage() {
  fprintf(stderr,
          "usage: tokensim serve --state DIR [--port N] [--port-file FILE]\n"
          "       tokensim ctl [--addr 127.0.0.1:PORT | --port N | --port-file FILE] COMMAND [ARGS]\n");
  return 2;
}

bool readPortFile(const char *path, uint16_t *port) {
  FILE *f = fopen(path, "r");
  if (!f) return false;
  unsigned v = 0;
  int n = fscanf(f, "%u", &v);
  fclose(f);
  if (n != 1 || v == 0 || v > 65535) return false;
  *port = uint16_t(v);
  return true;
}

int serve(int argc, char **argv) {
  std::string state, portFile;
  unsigned long port = 0;
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--state" && i + 1 < argc) state = argv[++i];
    else if (a == "--port" && i + 1 < argc) {
      char *end;
      port = strtoul(argv[++i], &end, 10);
      if (*end || port > 65535) return usage();
    } else if (a == "--port-file" && i + 1 < argc) portFile = argv[++i];
    else return usage();
  }
  if (state.empty()) return usage();
  mkdir(state.c_str(), 0700);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);

  tokensim::Registry reg(state);
  size_t n = reg.loadAll();
  tokensim::Server server(reg);
  std::string err;
  if (!server.start(uint16_t(port), &err)) {
    fprintf(stderr, "tokensim: cannot listen on 127.0.0.1:%lu: %s\n", port, err.c_str());
    return 1;
  }
  if (!portFile.empty()) {
    std::string tmp = portFile + ".tmp";
    FILE *f = fopen(tmp.c_str(), "w");
    if (!f || fprintf(f, "%u\n", server.port()) < 0 || fclose(f) != 0 ||
        rename(tmp.c_str(), portFile.c_str()) != 0) {
      fprintf(stderr, "tokensim: cannot write %s\n", portFile.c_str());
      return 1;
    }
  }
  printf("tokensim listening on 127.0.0.1:%u (%zu tokens from %s)\n", server.port(), n,
         state.c_str());
  fflush(stdout);
  struct timespec tick = {0, 200 * 1000 * 1000};
  while (!reg.shutdownRequested()) {
    int sig = sigtimedwait(&set, nullptr, &tick);
    if (sig == SIGINT || sig == SIGTERM) break;
  }
  server.stop();
  return 0;
}

int ctl(int argc, char **argv) {
  uint16_t port = 0;
  int i = 2;
  for (; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--addr" && i + 1 < argc) {
      if (!uk::simnet::parseAddress(argv[++i], &port)) return usage();
    } else if (a == "--port" && i + 1 < argc) {
      unsigned long v = strtoul(argv[++i], nullptr, 10);
      if (v == 0 || v > 65535) return usage();
      port = uint16_t(v);
    } else if (a == "--port-file" && i + 1 < argc) {
      if (!readPortFile(argv[++i], &port)) {
        fprintf(stderr, "tokensim: cannot read a port from %s\n", argv[i]);
        return 1;
      }
    } else {
      break;
    }
  }
  if (!port) {
    const char *env = getenv("UK_VIRTUAL_TOKEN");
    if (!env || !uk::simnet::parseAddress(env, &port)) {
      fprintf(stderr, "tokensim: no address (--addr, --port, --port-file or UK_VIRTUAL_TOKEN)\n");
      return 2;
    }
  }
  if (i >= argc) return usage();
  std::string line;
  for (; i < argc; ++i) {
    if (!line.empty()) line += ' ';
    line += argv[i];
  }
  namespace sn = uk::simnet;
  sn::Socket s = sn::connectLoopback(port, 60000);
  if (s == sn::kNoSocket) {
    fprintf(stderr, "tokensim: cannot connect to 127.0.0.1:%u\n", port);
    return 1;
  }
  std::string body = std::string(1, char(sn::kOpControl)) + line;
  uint32_t len = 0;
  std::string reply;
  bool ok = sn::sendMessage(s, reinterpret_cast<const uint8_t *>(body.data()), body.size()) &&
            sn::recvLength(s, &len, sn::kMaxBody) && len >= 1;
  if (ok) {
    reply.resize(len);
    ok = sn::recvAll(s, reinterpret_cast<uint8_t *>(&reply[0]), len);
  }
  sn::closeSocket(s);
  if (!ok) {
    fprintf(stderr, "tokensim: no answer\n");
    return 1;
  }
  fwrite(reply.data() + 1, 1, reply.size() - 1, stdout);
  return reply[0] == sn::kDone ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) return usage();
  if (!strcmp(argv[1], "serve")) return serve(argc, argv);
  if (!strcmp(argv[1], "ctl")) return ctl(argc, argv);
  return usage();
}
