// The symmetric family: the crypto environment of a symmetric key and its cipher. Key class 01
// is DES with 64-bit keys or Triple-DES with 128 or 192 (alg 1 ECB, 2 CBC), class 02 AES (alg 4
// ECB, 5 CBC); the classes 04 and 08 are stored but not run.
#include "sim_card_family.h"

namespace tokensim {
namespace card {

uint16_t symmetricEnvironment(const FileNode &k, uint8_t p2, uint8_t alg, const Tlv *tiv,
                              Bytes *envIv) {
  if (p2 != 0xB8) return SW_WRONG_DATA;
  uint8_t cls = k.prop.empty() ? 0 : k.prop[0];
  size_t ivLen;
  if (cls == 0x01 && (alg == 1 || alg == 2)) ivLen = 8;
  else if (cls == 0x02 && (alg == 4 || alg == 5)) ivLen = 16;
  else if ((cls == 0x08 && (alg == 8 || alg == 9)) || (cls == 0x04 && (alg == 6 || alg == 7)))
    return SW_FUNC_NOT_SUPPORTED;
  else
    return SW_WRONG_DATA;
  if (tiv && tiv->len != ivLen) return SW_WRONG_DATA;
  envIv->assign(ivLen, 0);
  if (tiv) envIv->assign(tiv->v, tiv->v + tiv->len);
  return 0;
}

Answer symmetricCipher(const FileNode &k, uint8_t alg, bool encipher, Bytes *iv,
                       const Bytes &data) {
  auto it = k.comps.find(0x20);
  if (it == k.comps.end()) return sw(SW_REF_NOT_FOUND);
  const Bytes &key = it->second;
  // The environment was set for the key file as it was then: a file deleted and made again with
  // another class (or none) since no longer fits the chaining value kept for it.
  const uint8_t cls = k.prop.empty() ? 0 : k.prop[0];
  const size_t block = cls == 0x01 ? 8 : cls == 0x02 ? 16 : 0;
  if (!block || iv->size() != block) return sw(SW_CONDITIONS);
  Bytes d = data;
  bool done;
  if (cls == 0x01) {
    if (d.size() % 8) return sw(SW_WRONG_LENGTH);
    done = desCrypt(key.data(), key.size(), alg == 2, encipher, iv->data(), d.data(), d.size());
  } else {
    if (d.size() % 16) return sw(SW_WRONG_LENGTH);
    done = aesCrypt(key.data(), key.size(), alg == 5, encipher, iv->data(), d.data(), d.size());
  }
  return done ? ok(d) : sw(0x6F00);
}

}  // namespace card
}  // namespace tokensim
