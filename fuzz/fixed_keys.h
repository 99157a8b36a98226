// Fixed keys the fuzz targets decrypt and verify with, made once with
// `openssl genpkey` (RSA 1024 bits; SM2), as Base64 of their PKCS#8 DER.
#pragma once

namespace tarnwick::fuzz {

inline constexpr const char* kRsaPkcs8Base64 =
    "MIICdwIBADANBgkqhkiG9w0BAQEFAASCAmEwggJdAgEAAoGBAKKKfAPGXNiTUkfVdqAIJ7cGwGhzEaHunB2NQYq1V8Uc3IJU"
    "WYRuiGyo7xpPQRg13GNhslPcVTFDNZZiCX3ld1heYKd6mWZVuyrKK2a0AjWts9L1aKtgYMXy39QUKO9lsxuFQrYPaeKZj9Vx"
    "e4BP/xphw0k4TKbIKnLepoxbOVBdAgMBAAECgYAX1s/RjepYKWNL/dbkKc4JXggiSZ4wbdqfyvPt8CLrWgxNYSmv7rY7mZtX"
    "9H/LmTq1qMKK4insi7r0T3Ss7lbOdz0vlocXBOvpWX6jbKNXcRQ323KfRKDvatn7jkhvEZXi4otq8VUErbAiRwiTDIO7Huqc"
    "Sncu0Dw8wQf739dN0QJBANcrQU3BIsKUB0uimMw8bA4UaERIGB5FP3PLHGwVAaHXwzlsbvpOjK6JnCRnfuT8deuVKDBMRTEc"
    "VPDCFIolnS8CQQDBYpm+uW9A1LpO6guAQUH+xCVY9UATVXp2u+kwA85j84P2p8oZQzts+TpINUuJTF+SC71kzmIIHMrMomSl"
    "NQAzAkEAhzDlSg5UYb8SSmJx8LjyB3KpBGXryXEm6gEu7XXRXbesMLNBk0GxQKSzl2fzobpB+O/xnU7+llm/wLmgoB/7/wJB"
    "AIfxPk7aoCCc6hNLZ6ZTOYdUb0SnstFkh2AsHHKKWm3c42li7ijwIDgswxG7lUwBCjXqVsskYbl+M/nCNqoEJg0CQBAb0Bt3"
    "MTbyiZxAMKZdXa0LNirA+ihRq/y3oCMwzLS8xDKCKz2MbGpCyIGZW8bSQ/T0HDvnDrul/nX9LDWUzCo=";

inline constexpr const char* kSm2Pkcs8Base64 =
    "MIGHAgEAMBMGByqGSM49AgEGCCqBHM9VAYItBG0wawIBAQQg2F/dc2DjOJRdwuHenvip2VLi1i9ENEs07FAwoVG/fnihRANC"
    "AASO1GdXq5ZNpfVXCn/CTCi9ScMK6s89A6p7ZnRgPBi2qdLnIOoSd/sj2xe9/DyHtUOWVFQ+43sXXFp4ZpCyZ2zZ";

}  // namespace tarnwick::fuzz
