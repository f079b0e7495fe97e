#!/usr/bin/python3
"""The requests the filters save.

Harvests to depth 3 (20 workers, --rate 0, the offline engine of compare.py)
from two lists of 20 seeds: the sample seeds (each two of the engine's words,
"手机价格") and single words of the engine's vocabulary ("手机"). Each list runs
without filters, with --exclude-file of a 100-word stop list (10 of the
engine's words, the topics a keyword list about tools and prices drifts to,
and 90 words the engine never gives) and with --must-contain seed. Prints the
search requests the engine answered and the distinct phrases written, and
checks that no phrase written breaks its filter.
    bench/peers/filter_savings.py [BUILD_DIR]     (default build/default)
"""
import os
import subprocess
import sys
import tempfile
import urllib.request

import compare
import offline

# The engine's phrases join two of its 40 words, so a phrase holds its seed
# only when the seed is one of them: the tree drifts from the first level on.
DRIFT = "小说 新闻 地图 翻译 视频 图片 百科 大全 热门 排行".split()
ELSEWHERE = """招聘 兼职 加盟 代理 批发 二手 维修 回收 转让 出租 求购 培训 考试 真题 答案 作文 壁纸 头像 表情
    游戏 攻略 电影 电视剧 综艺 明星 八卦 彩票 股票 基金 贷款 信用卡 保险 理财 房价 租房 装修 家具 婚纱 旅游 酒店 机票
    火车票 天气 星座 算命 风水 减肥 美容 护肤 化妆 发型 服装 鞋子 包包 手表 珠宝 宠物 花卉 美食 菜谱 餐厅 外卖 快递
    物流 驾校 违章 汽车 二手车 摩托 自行车 医院 药品 症状 医生 疫苗 健身 瑜伽 足球 篮球 音乐 歌词 铃声 动漫 漫画 笑话
    段子 祝福语 对联 谜语 成语""".split()
STOP_WORDS = DRIFT + ELSEWHERE[:90]
WORDS = ("关键字 挖掘 工具 长尾词 搜索 优化 网站 排名 推广 软件 下载 免费 教程 方法 技巧 查询 分析 营销 百科 大全 "
         "手机 电脑 价格 官网 入门 在线 平台 数据 流量 指数").split()[:20]


def requests(base):
    return int(urllib.request.urlopen(base + "/stats").read().split()[1])


def main():
    compare.BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(compare.ROOT, "build", "default"))
    assert len(STOP_WORDS) == 100 and len(set(STOP_WORDS)) == 100
    work = tempfile.mkdtemp(prefix="kelvarn-filters-")
    stop = os.path.join(work, "stop.txt")
    with open(stop, "w", encoding="utf-8") as f:
        f.write("".join(word + "\n" for word in STOP_WORDS))
    lists = {"sample seeds": offline.write_seeds(work, compare.SEEDS), "single words": os.path.join(work, "words.txt")}
    with open(lists["single words"], "wb") as f:
        f.write(b"".join(word.encode("gbk") + b"\r\n" for word in WORDS))
    runs = {"no filter": [], "--exclude-file (100 words)": ["--exclude-file", stop], "--must-contain seed":
            ["--must-contain", "seed"]}
    engine, base = compare.start_engine()
    print("%-14s %-28s %9s %9s %12s %9s" % ("seeds", "filter", "requests", "saved", "distinct", "wall s"))
    try:
        for name, seeds in lists.items():
            with open(seeds, "rb") as f:
                seed_list = [s.decode("gbk") for s in f.read().split(b"\r\n") if s]
            baseline = None
            for run, flags in runs.items():
                out = os.path.join(work, "out.txt")
                before = requests(base)
                argv = compare.kelvarn_argv(base, seeds)
                wall, _, _ = compare.run(argv[:-1] + flags + ["--output", out] + argv[-1:], os.devnull)
                asked = requests(base) - before
                with open(out, "rb") as f:
                    phrases = {p.decode("gbk") for p in f.read().split(b"\r\n") if p}
                if flags and flags[0] == "--exclude-file":
                    assert not any(w in p for p in phrases for w in STOP_WORDS), "a stop word got through"
                if flags and flags[0] == "--must-contain":
                    assert all(any(s in p for s in seed_list) for p in phrases), "a phrase without its seed"
                baseline = baseline or asked
                print("%-14s %-28s %9d %8.1f%% %12d %9.1f" % (name, run, asked, 100.0 * (baseline - asked) / baseline,
                                                             len(phrases), wall))
    finally:
        engine.terminate()
        engine.wait()
        subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    main()
