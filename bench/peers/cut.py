"""The cut rules of the harvester, on GBK bytes: the first related-searches
block, then every link text in it (nested start markers included)."""

BLOCK_START = "相关搜索</th><th>".encode("gbk")
BLOCK_END = b"</table></div>"


def related_phrases(page: bytes) -> list:
    p = page.find(BLOCK_START)
    if p < 0:
        return []
    rest = page[p + len(BLOCK_START):]
    q = rest.find(BLOCK_END)
    if q < 0:
        return []
    block = rest[:q]
    folded = block.lower()
    phrases = []
    s = folded.find(b'">')
    while s >= 0:
        e = folded.find(b"</a>", s)
        phrases.append(block[s + 2:e] if e > s + 2 else b"")
        s = folded.find(b'">', s + 1)
    return phrases


def search_path(keyword: bytes) -> str:
    keep = set(b"*-.@_0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")
    return "/s?wd=" + "".join(chr(b) if b in keep else "%%%02X" % b for b in keyword)
