// Fixed keys the fuzz targets decrypt and verify with, made once with
// `openssl genpkey` (RSA 1024 bits; SM2), as Base64 of their PKCS#8 DER.
#pragma once

namespace tarnwick::fuzz {

inline constexpr const char* kRsaPkcs8Base64 =
    "MIICXQIBAAKBgQCiinwDxlzYk1JH1XagCCe3BsBocxGh7pwdjUGKtVfFHNyCVFmEbohsqO8aT0EYNdxjYbJT3FUxQzWWYgl9"
    "5XdYXmCneplmVbsqyitmtAI1rbPS9WirYGDF8t/UFCjvZbMbhUK2D2nimY/VcXuAT/8aYcNJOEymyCpy3qaMWzlQXQIDAQAB"
    "AoGAF9bP0Y3qWCljS/3W5CnOCV4IIkmeMG3an8rz7fAi61oMTWEpr+62O5mbV/R/y5k6tajCiuIp7Iu69E90rO5Wznc9L5aH"
    "FwTr6Vl+o2yjV3EUN9tyn0Sg72rZ+45IbxGV4uKLavFVBK2wIkcIkwyDux7qnEp3LtA8PMEH+9/XTdECQQDXK0FNwSLClAdL"
    "opjMPGwOFGhESBgeRT9zyxxsFQGh18M5bG76ToyuiZwkZ37k/HXrlSgwTEUxHFTwwhSKJZ0vAkEAwWKZvrlvQNS6TuoLgEFB"
    "/sQlWPVAE1V6drvpMAPOY/OD9qfKGUM7bPk6SDVLiUxfkgu9ZM5iCBzKzKJkpTUAMwJBAIcw5UoOVGG/EkpicfC48gdyqQRl"
    "68lxJuoBLu110V23rDCzQZNBsUCks5dn86G6Qfjv8Z1O/pZZv8C5oKAf+/8CQQCH8T5O2qAgnOoTS2emUzmHVG9Ep7LRZIdg"
    "LBxyilpt3ONpYu4o8CA4LMMRu5VMAQo16lbLJGG5fjP5wjaqBCYNAkAQG9AbdzE28omcQDCmXV2tCzYqwPooUav8t6AjMMy0"
    "vMQygis9jGxqQsiBmVvG0kP09Bw75w67pf51/Sw1lMwq";

inline constexpr const char* kSm2Pkcs8Base64 =
    "MHcCAQEEINhf3XNg4ziUXcLh3p74qdlS4tYvRDRLNOxQMKFRv354oAoGCCqBHM9VAYItoUQDQgAEjtRnV6uWTaX1Vwp/wkwo"
    "vUnDCurPPQOqe2Z0YDwYtqnS5yDqEnf7I9sXvfw8h7VDllRUPuN7F1xaeGaQsmds2Q==";

}  // namespace tarnwick::fuzz
