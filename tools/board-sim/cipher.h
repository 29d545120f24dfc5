// The simulator's stand-in for the board's image encryption: a keyed XOR stream whose nonce is
// the container header's 16 opaque bytes. It only has to be deterministic so that "pack" and
// the simulated board agree; it protects nothing and is not the board's real scheme.
#pragma once

#include <QByteArray>

namespace qvota::sim {

inline constexpr int NONCE_SIZE = 16;

// XORs data with the keystream for nonce; applying it twice gives back the input.
QByteArray apply_keystream(const QByteArray &data, const QByteArray &nonce);

// Wraps plain into a container: magic, nonce, size, CRC-32 of plain, encrypted payload.
QByteArray pack_container(const QByteArray &plain, const QByteArray &nonce);

// A fresh nonce from the system's random generator.
QByteArray random_nonce();

// What the board would have in flash after receiving bytes: the decrypted image when bytes are
// a valid container, else the bytes themselves. isContainer (optional) tells which case it was.
QByteArray plain_image(const QByteArray &received, bool *isContainer = nullptr);

} // namespace qvota::sim
