// SHA-256 against the published test vectors, and against messages whose
// lengths sit on either side of the padding's turn: 55 bytes leave room for
// the length in the last block, 56 do not, and 63 and 64 end right before
// and at a block boundary. Each message is hashed whole and a byte at a
// time, so the carrying of pending bytes is checked as well.
#include "records/sha256.hpp"

#include <gtest/gtest.h>

#include <string>

namespace blockeig {
namespace {

std::string hex_of(Sha256& sha) { return hex_digest(sha.finish()); }

std::span<const std::uint8_t> bytes_of(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TEST(Sha256, PublishedVectors) {
  struct Case {
    const char* name;
    std::string message;
    const char* digest;
  };
  const Case cases[] = {
      {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"55 bytes", std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
      {"56 bytes", std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
      {"56 bytes, two blocks of padding", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"63 bytes", std::string(63, 'a'), "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
      {"64 bytes", std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
      {"112 bytes",
       "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopq"
       "rstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {"one million a", std::string(1'000'000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sha256 whole;
    whole.update(bytes_of(c.message));
    EXPECT_EQ(hex_of(whole), c.digest);
    Sha256 bytewise;
    for (std::size_t k = 0; k < c.message.size(); ++k) bytewise.update(bytes_of(c.message).subspan(k, 1));
    EXPECT_EQ(hex_of(bytewise), c.digest);
  }
}

}  // namespace
}  // namespace blockeig
