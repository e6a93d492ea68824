// Card command layer, part one: the exchange helper, the file system commands (select, binary,
// delete, create) and the record commands.
#include <string.h>

#include "uk_bytes.h"
#include "uk_commands.h"
#include "uk_log.h"
#include "uk_transport.h"

namespace uk {
namespace cmd {

uint32_t exchange(UK_USB_DEV_CTX *c, const uint8_t *apdu, uint32_t apduLen, Answer &a,
                  uint32_t cap) {
  a.len = 0;
  if (!c) return UKLR_PARAM_VALUE;
  if (cap > sizeof a.buf) cap = sizeof a.buf;
  uint32_t got = cap;
  uint32_t rc = sendApdu(c, apdu, apduLen, a.buf, &got);
  // The send operation reports the framed length; anything shorter than the two length bytes and
  // the status word, or longer than the buffer, is not an answer we can read.
  if (got >= 4 && got <= cap) a.len = got;
  if (rc == UKLR_OK && a.len == 0) rc = UKLR_DATA_LENGTH;
  if (rc != UKLR_OK) log("---->uk_dev_SendAPDUCmd ......\n");
  return rc;
}

uint32_t reissue(UK_USB_DEV_CTX *c, uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2, uint8_t le,
                 Answer &a) {
  Apdu again(cla, ins, p1, p2);
  again.shortLe(le);
  return exchange(c, again.bytes(), again.size(), a);
}

uint32_t copyOut(const Answer &a, uint8_t *out, uint32_t *len) {
  uint32_t n = a.dataLen();
  if (!len) return UKLR_PARAM_VALUE;
  if (n > *len || (n && !out)) {
    *len = n;
    log("---->UKLR_BUFFER_TOO_SMALL......\n");
    return UKLR_BUFFER_TOO_SMALL;
  }
  if (n) memcpy(out, a.data(), n);
  *len = n;
  return UKLR_OK;
}

}  // namespace cmd

using cmd::Answer;
using cmd::Apdu;
using cmd::exchange;

uint32_t selectFile(UK_USB_DEV_CTX *c, const uint8_t fid[2], uint8_t *fci, uint32_t *fciLen) {
  if (!fid) return UKLR_PARAM_VALUE;
  Apdu ap(0x00, 0xA4, 0x00, 0x00);
  ap.shortData(fid, 2);
  Answer a;
  uint32_t rc = exchange(c, ap.bytes(), ap.size(), a, 128);
  if (rc != UKLR_OK || !fciLen) return rc;
  return cmd::copyOut(a, fci, fciLen);
}

uint32_t readBinary(UK_USB_DEV_CTX *c, uint32_t offset, uint32_t len, uint8_t *out,
                    uint32_t *outLen) {
  if (len > kMaxTransfer) {
    log("---->UKLR_DATA_LENGTH \n");
    return UKLR_DATA_LENGTH;
  }
  if (!outLen || (len && !out) || offset > 0xFFFF) return UKLR_PARAM_VALUE;
  *outLen = 0;
  const uint8_t p1 = uint8_t(offset >> 8), p2 = uint8_t(offset);
  Apdu ap(0x00, 0xB0, p1, p2);
  ap.extLe(len);
  Answer a;
  uint32_t rc = exchange(c, ap.bytes(), ap.size(), a);
  uint8_t waiting = 0;
  if (cmd::reissueLe(rc, cmd::Reissue::MoreData, &waiting))
    rc = cmd::reissue(c, 0x00, 0xB0, p1, p2, waiting, a);
  if (rc != UKLR_OK) return rc;
  // The caller's buffer holds len bytes, whatever the card chose to send.
  uint32_t cap = len;
  rc = cmd::copyOut(a, out, &cap);
  *outLen = cap;
  return rc;
}

uint32_t writeBinary(UK_USB_DEV_CTX *c, uint32_t offset, const uint8_t *data, uint32_t len) {
  if (len > kMaxTransfer) {
    log("---->UKLR_DATA_LENGTH \n");
    return UKLR_DATA_LENGTH;
  }
  if ((len && !data) || offset > 0xFFFF) return UKLR_PARAM_VALUE;
  Apdu ap(0x00, 0xD0, uint8_t(offset >> 8), uint8_t(offset));
  ap.extData(data, len);
  Answer a;
  return exchange(c, ap.bytes(), ap.size(), a);
}

uint32_t readBinaryLong(UK_USB_DEV_CTX *c, uint8_t *out, uint32_t len) {
  if (len && !out) return UKLR_PARAM_VALUE;
  for (uint32_t off = 0; off < len;) {
    uint32_t piece = len - off < kPiece ? len - off : kPiece;
    uint32_t got = 0;
    uint32_t rc = readBinary(c, off, piece, out + off, &got);
    if (rc != UKLR_OK) return rc;
    // A short piece would leave the rest of the caller's buffer unfilled.
    if (got != piece) {
      log("---->UKLR_DATA_LENGTH \n");
      return UKLR_DATA_LENGTH;
    }
    off += piece;
  }
  return UKLR_OK;
}

uint32_t writeBinaryLong(UK_USB_DEV_CTX *c, const uint8_t *data, uint32_t len) {
  if (len && !data) return UKLR_PARAM_VALUE;
  for (uint32_t off = 0; off < len;) {
    uint32_t piece = len - off < kPiece ? len - off : kPiece;
    uint32_t rc = writeBinary(c, off, data + off, piece);
    if (rc != UKLR_OK) return rc;
    off += piece;
  }
  return UKLR_OK;
}

uint32_t deleteFile(UK_USB_DEV_CTX *c, uint8_t p1, const uint8_t fid[2]) {
  if (!fid) return UKLR_PARAM_VALUE;
  Apdu ap(0x00, 0xE4, p1, 0x00);
  ap.shortData(fid, 2);
  Answer a;
  return exchange(c, ap.bytes(), ap.size(), a);
}

namespace {

uint8_t fileDescriptor(uint8_t kind) {
  switch (kind) {
    case FK_TRANSPARENT: return 0x01;
    case FK_RECORD: return 0x03;
    case FK_RECORD_CYCLIC: return 0x07;
    case FK_DF: return 0x38;
    case FK_RSA_PRIVATE: return 0x13;
    case FK_RSA_PUBLIC: return 0x15;
    case FK_SYMMETRIC: return 0x11;
    case FK_KEYFILE: return 0x10;
    default: return 0;
  }
}

uint32_t proprietaryLength(uint8_t kind) {
  switch (kind) {
    case FK_TRANSPARENT: return 2;
    case FK_RECORD:
    case FK_RECORD_CYCLIC: return 3;
    case FK_DF: return 5;
    case FK_RSA_PRIVATE:
    case FK_RSA_PUBLIC: return 6;
    case FK_SYMMETRIC: return 5;
    default: return 1;  // key file
  }
}

// The card's code for a symmetric algorithm class in the first proprietary byte.
uint8_t symmetricAlgCode(uint8_t alg) {
  switch (alg) {
    case 2:
    case 4: return 0x01;
    case 5: return 0x02;
    case 6: return 0x08;
    case 7: return 0x04;
    default: return alg;
  }
}

bool symmetricSizeOk(uint8_t alg, uint32_t bits, bool *algKnown) {
  *algKnown = true;
  switch (alg) {
    case 2:
    case 4: return bits == 64 || bits == 128 || bits == 192;
    case 5: return bits == 128 || bits == 192 || bits == 256;
    case 6:
    case 7: return bits == 128;
    default: *algKnown = false; return false;
  }
}

}  // namespace

uint32_t buildFileControl(const FILE_ATTR &fa, uint8_t *out, uint32_t *outLen) {
  uint32_t n = 0;
  auto put = [&](uint8_t b) { out[n++] = b; };
  if (!(fa.flags & FA_VALID)) {
    log("---->UKLR_PARAM_VALUE \n");
    return UKLR_PARAM_VALUE;
  }
  const uint8_t kind = fa.kind;
  // 83: file identifier.
  put(0x83);
  put(0x02);
  if (kind == FK_KEYFILE) {
    put(0x2F);
    put(0x02);
  } else {
    if (!(fa.flags & FA_FID)) {
      log("---->UKLR_PARAM_VALUE \n");
      return UKLR_PARAM_VALUE;
    }
    put(fa.fid[0]);
    put(fa.fid[1]);
  }
  // 82: file descriptor.
  const uint8_t desc = fileDescriptor(kind);
  if (!desc) {
    log("---->UKLR_INVALID_TYPE \n");
    return UKLR_INVALID_TYPE;
  }
  put(0x82);
  put(0x02);
  put(desc);
  put(fa.descriptor);

  // Proprietary bytes as given, or zeros (RSA key files then default to 01).
  uint8_t prop[6] = {0};
  if (fa.flags & FA_PROPRIETARY)
    memcpy(prop, fa.proprietary, sizeof prop);
  else if (kind == FK_RSA_PRIVATE || kind == FK_RSA_PUBLIC)
    prop[0] = 0x01;

  // 80: size (bits for key files).
  if (kind != FK_DF) {
    if (!(fa.flags & FA_SIZE)) {
      log("---->UKLR_PARAM_VALUE \n");
      return UKLR_PARAM_VALUE;
    }
    const uint32_t size = getBe16(fa.size);
    if (kind == FK_RSA_PRIVATE || kind == FK_RSA_PUBLIC) {
      if (size != 1024 && size != 2048) {
        log("---->UKLR_PARAM_VALUE \n");
        return UKLR_PARAM_VALUE;
      }
    } else if (kind == FK_SYMMETRIC) {
      bool known = false;
      if (!symmetricSizeOk(prop[0], size, &known)) {
        if (!known) {
          log("---->UKLR_KEY_TYPE_SUPPORT ......\n");
          return UKLR_KEY_TYPE_SUPPORT;
        }
        log("---->UKLR_PARAM_VALUE......\n");
        return UKLR_PARAM_VALUE;
      }
    } else if (size == 0) {
      log("---->UKLR_PARAM_VALUE \n");
      return UKLR_PARAM_VALUE;
    }
    put(0x80);
    put(0x02);
    put(fa.size[0]);
    put(fa.size[1]);
  }
  // 88: short file identifier.
  if ((fa.flags & FA_SFI) && kind != FK_DF && kind != FK_KEYFILE) {
    put(0x88);
    put(0x01);
    put(fa.sfi);
  }
  // 84: DF name (or the FID when no name is given).
  if (kind == FK_DF) {
    put(0x84);
    if (fa.flags & FA_DFNAME) {
      uint32_t len = fa.dfNameLen > 16 ? 16 : fa.dfNameLen;
      put(uint8_t(len));
      memcpy(out + n, fa.dfName, len);
      n += len;
    } else {
      put(0x02);
      put(fa.fid[0]);
      put(fa.fid[1]);
    }
  }
  // 85: proprietary bytes.
  const uint32_t plen = proprietaryLength(kind);
  if ((kind == FK_RECORD || kind == FK_RECORD_CYCLIC) && (fa.flags & FA_PROPRIETARY) &&
      prop[0] == 0) {
    log("---->UKLR_PARAM_VALUE \n");
    return UKLR_PARAM_VALUE;
  }
  if (kind == FK_SYMMETRIC) prop[0] = symmetricAlgCode(prop[0]);
  put(0x85);
  put(uint8_t(plen));
  memcpy(out + n, prop, plen);
  n += plen;
  // 86: security attributes.
  const uint32_t slen = kind == FK_KEYFILE ? 1 : 8;
  put(0x86);
  put(uint8_t(slen));
  if (fa.flags & FA_SECURITY)
    memcpy(out + n, fa.security, slen);
  else
    memset(out + n, 0, slen);
  n += slen;
  *outLen = n;
  return UKLR_OK;
}

uint32_t createFile(UK_USB_DEV_CTX *c, const FILE_ATTR &attr) {
  uint8_t fcp[kMaxFileControl];
  uint32_t len = 0;
  uint32_t rc = buildFileControl(attr, fcp, &len);
  if (rc != UKLR_OK) return rc;
  Apdu ap(0x00, 0xE0, 0x00, 0x00);
  ap.shortData(fcp, len);
  Answer a;
  return exchange(c, ap.bytes(), ap.size(), a, 128);
}

uint32_t readRecord(UK_USB_DEV_CTX *c, uint8_t rec, uint8_t *out, uint32_t *len) {
  if (!len || (*len && !out)) return UKLR_PARAM_VALUE;
  const uint32_t cap = *len;
  Apdu ap(0x00, 0xB2, rec, 0x04);
  ap.shortLe(uint8_t(cap > 0xFF ? 0xFF : cap));
  Answer a;
  uint32_t rc = exchange(c, ap.bytes(), ap.size(), a);
  uint8_t more = 0;
  if (cmd::reissueLe(rc, cmd::Reissue::MoreData, &more)) {
    if (more >= 4 && uint32_t(more) - 4 > cap) {
      *len = uint32_t(more) - 4;
      log("---->UKLR_BUFFER_TOO_SMALL......\n");
      return UKLR_BUFFER_TOO_SMALL;
    }
    rc = cmd::reissue(c, 0x00, 0xB2, rec, 0x04, more, a);
  }
  if (rc != UKLR_OK) return rc;
  // The record comes after a 4-byte header; an answer shorter than the header is malformed.
  uint32_t n = a.dataLen();
  if (n < 4) {
    log("---->UKLR_DATA_LENGTH \n");
    return UKLR_DATA_LENGTH;
  }
  n -= 4;
  if (n > cap) {
    *len = n;
    log("---->UKLR_BUFFER_TOO_SMALL......\n");
    return UKLR_BUFFER_TOO_SMALL;
  }
  if (n) memcpy(out, a.data() + 4, n);
  *len = n;
  return UKLR_OK;
}

uint32_t updateRecord(UK_USB_DEV_CTX *c, uint8_t rec, const uint8_t *data, uint32_t len) {
  if (!data || len == 0) return UKLR_PARAM_VALUE;
  if (len > 0xFF) return UKLR_DATA_LENGTH;
  Apdu ap(0x00, 0xDC, rec, 0x04);
  ap.shortData(data, len);
  Answer a;
  return exchange(c, ap.bytes(), ap.size(), a);
}

uint32_t eraseRecord(UK_USB_DEV_CTX *c, uint8_t rec) {
  Apdu ap(0x00, 0x0C, rec, 0x04);
  ap.shortLe(0x00);
  Answer a;
  return exchange(c, ap.bytes(), ap.size(), a);
}

}  // namespace uk
