package bench;

import com.google.common.base.Ascii;
import com.google.common.base.CaseFormat;
import com.google.common.base.CharMatcher;
import com.google.common.base.Converter;
import com.google.common.base.Enums;
import com.google.common.base.Equivalence;
import com.google.common.base.Functions;
import com.google.common.base.Joiner;
import com.google.common.base.MoreObjects;
import com.google.common.base.Predicates;
import com.google.common.base.Splitter;
import com.google.common.base.Strings;
import com.google.common.base.Suppliers;
import com.google.common.base.Utf8;
import com.google.common.cache.CacheBuilder;
import com.google.common.cache.CacheLoader;
import com.google.common.cache.LoadingCache;
import com.google.common.collect.ArrayListMultimap;
import com.google.common.collect.ArrayTable;
import com.google.common.collect.Collections2;
import com.google.common.collect.ConcurrentHashMultiset;
import com.google.common.collect.ContiguousSet;
import com.google.common.collect.DiscreteDomain;
import com.google.common.collect.EvictingQueue;
import com.google.common.collect.FluentIterable;
import com.google.common.collect.HashBasedTable;
import com.google.common.collect.HashBiMap;
import com.google.common.collect.ImmutableBiMap;
import com.google.common.collect.ImmutableClassToInstanceMap;
import com.google.common.collect.ImmutableList;
import com.google.common.collect.ImmutableListMultimap;
import com.google.common.collect.ImmutableMap;
import com.google.common.collect.ImmutableMultiset;
import com.google.common.collect.ImmutableRangeMap;
import com.google.common.collect.ImmutableSet;
import com.google.common.collect.ImmutableSetMultimap;
import com.google.common.collect.ImmutableSortedMap;
import com.google.common.collect.ImmutableSortedSet;
import com.google.common.collect.ImmutableTable;
import com.google.common.collect.Iterables;
import com.google.common.collect.Iterators;
import com.google.common.collect.LinkedHashMultimap;
import com.google.common.collect.LinkedListMultimap;
import com.google.common.collect.Lists;
import com.google.common.collect.MapDifference;
import com.google.common.collect.Maps;
import com.google.common.collect.MinMaxPriorityQueue;
import com.google.common.collect.Multimap;
import com.google.common.collect.Multimaps;
import com.google.common.collect.Multiset;
import com.google.common.collect.Multisets;
import com.google.common.collect.Ordering;
import com.google.common.collect.Range;
import com.google.common.collect.RangeSet;
import com.google.common.collect.Sets;
import com.google.common.collect.Table;
import com.google.common.collect.Tables;
import com.google.common.collect.TreeBasedTable;
import com.google.common.collect.TreeMultimap;
import com.google.common.collect.TreeMultiset;
import com.google.common.collect.TreeRangeMap;
import com.google.common.collect.TreeRangeSet;
import com.google.common.escape.Escaper;
import com.google.common.escape.Escapers;
import com.google.common.graph.ElementOrder;
import com.google.common.graph.GraphBuilder;
import com.google.common.graph.Graphs;
import com.google.common.graph.MutableGraph;
import com.google.common.graph.MutableNetwork;
import com.google.common.graph.MutableValueGraph;
import com.google.common.graph.NetworkBuilder;
import com.google.common.graph.Traverser;
import com.google.common.graph.ValueGraphBuilder;
import com.google.common.hash.BloomFilter;
import com.google.common.hash.Funnels;
import com.google.common.hash.Hashing;
import com.google.common.html.HtmlEscapers;
import com.google.common.io.BaseEncoding;
import com.google.common.io.ByteSource;
import com.google.common.io.CharSource;
import com.google.common.math.BigIntegerMath;
import com.google.common.math.DoubleMath;
import com.google.common.math.IntMath;
import com.google.common.math.LongMath;
import com.google.common.math.Quantiles;
import com.google.common.math.Stats;
import com.google.common.net.HostAndPort;
import com.google.common.net.PercentEscaper;
import com.google.common.net.UrlEscapers;
import com.google.common.primitives.Booleans;
import com.google.common.primitives.Bytes;
import com.google.common.primitives.Chars;
import com.google.common.primitives.Doubles;
import com.google.common.primitives.ImmutableIntArray;
import com.google.common.primitives.Ints;
import com.google.common.primitives.Longs;
import com.google.common.primitives.Shorts;
import com.google.common.primitives.UnsignedInteger;
import com.google.common.primitives.UnsignedLong;
import com.google.common.xml.XmlEscapers;
import java.math.RoundingMode;
import java.nio.charset.StandardCharsets;
import java.util.List;
import java.util.Map;
import org.apache.commons.lang3.ArrayUtils;
import org.apache.commons.lang3.BooleanUtils;
import org.apache.commons.lang3.CharSetUtils;
import org.apache.commons.lang3.CharUtils;
import org.apache.commons.lang3.ClassUtils;
import org.apache.commons.lang3.EnumUtils;
import org.apache.commons.lang3.ObjectUtils;
import org.apache.commons.lang3.StringEscapeUtils;
import org.apache.commons.lang3.StringUtils;
import org.apache.commons.lang3.Validate;
import org.apache.commons.lang3.builder.CompareToBuilder;
import org.apache.commons.lang3.builder.DiffBuilder;
import org.apache.commons.lang3.builder.EqualsBuilder;
import org.apache.commons.lang3.builder.HashCodeBuilder;
import org.apache.commons.lang3.builder.ToStringBuilder;
import org.apache.commons.lang3.builder.ToStringStyle;
import org.apache.commons.lang3.math.Fraction;
import org.apache.commons.lang3.math.NumberUtils;
import org.apache.commons.lang3.mutable.MutableInt;
import org.apache.commons.lang3.mutable.MutableObject;
import org.apache.commons.lang3.text.StrBuilder;
import org.apache.commons.lang3.text.StrSubstitutor;
import org.apache.commons.lang3.text.StrTokenizer;
import org.apache.commons.lang3.text.WordUtils;
import org.apache.commons.lang3.tuple.ImmutableTriple;
import org.apache.commons.lang3.tuple.MutablePair;
import org.apache.commons.lang3.tuple.Pair;

/**
 * A start-up load typical of a desktop app on library jars: it touches a
 * broad part of Guava and Commons Lang once (collections, caches, graphs,
 * text, numbers) and prints a digest of the results. It loads about a
 * thousand classes beyond the JVM's own, most of them from those jars.
 */
public final class LibsApp {
    private LibsApp() {}

    enum Colour { RED, GREEN, BLUE }

    @SuppressWarnings("deprecation")
    public static void main(String[] args) throws Exception {
        StringBuilder out = new StringBuilder();
        final ImmutableList<String> words = ImmutableList.copyOf(
                Splitter.on(CharMatcher.anyOf(",; ")).omitEmptyStrings().trimResults()
                        .split("alpha, beta; gamma delta,epsilon; zeta eta theta"));

        // Collections of every shape.
        ImmutableMap<String, Integer> lengths = Maps.toMap(words, String::length);
        ImmutableSortedMap<String, Integer> sorted = ImmutableSortedMap.copyOf(lengths);
        ImmutableListMultimap<Integer, String> byLength = Multimaps.index(words, String::length);
        ImmutableSetMultimap<Character, String> byInitial =
                ImmutableSetMultimap.copyOf(Multimaps.index(words, w -> w.charAt(0)));
        Multimap<Integer, String> lists = ArrayListMultimap.create(byLength);
        Multimap<Integer, String> linked = LinkedHashMultimap.create(byLength);
        Multimap<Integer, String> linkedList = LinkedListMultimap.create(byLength);
        TreeMultimap<Integer, String> tree = TreeMultimap.create(byLength);
        Multiset<String> letters = TreeMultiset.create();
        words.forEach(w -> letters.add(w.substring(0, 1)));
        Multiset<String> concurrent = ConcurrentHashMultiset.create(letters);
        ImmutableMultiset<String> highest = Multisets.copyHighestCountFirst(letters);
        Table<String, Integer, Boolean> table = HashBasedTable.create();
        words.forEach(w -> table.put(w, w.length(), w.contains("a")));
        TreeBasedTable<String, Integer, Boolean> sortedTable = TreeBasedTable.create();
        sortedTable.putAll(table);
        Table<Integer, String, Boolean> transposed = Tables.transpose(sortedTable);
        ArrayTable<String, Integer, String> grid = ArrayTable.create(words.subList(0, 3), ImmutableList.of(1, 2));
        grid.put("alpha", 1, "x");
        ImmutableTable<String, String, Integer> fixed = ImmutableTable.of("r", "c", 1);
        HashBiMap<String, Integer> bimap = HashBiMap.create();
        words.forEach(w -> bimap.put(w, bimap.size()));
        ImmutableBiMap<String, Integer> fixedBimap = ImmutableBiMap.copyOf(bimap);
        RangeSet<Integer> ranges = TreeRangeSet.create();
        ranges.add(Range.closed(1, 5));
        ranges.add(Range.openClosed(7, 9));
        TreeRangeMap<Integer, String> rangeMap = TreeRangeMap.create();
        rangeMap.put(Range.closedOpen(0, 10), "low");
        ImmutableRangeMap<Integer, String> fixedRanges = ImmutableRangeMap.copyOf(rangeMap);
        ContiguousSet<Integer> digits = ContiguousSet.create(Range.closed(0, 9), DiscreteDomain.integers());
        MinMaxPriorityQueue<Integer> queue = MinMaxPriorityQueue.maximumSize(3).create(lengths.values());
        EvictingQueue<String> recent = EvictingQueue.create(2);
        recent.addAll(words);
        MapDifference<String, Integer> difference = Maps.difference(lengths, ImmutableMap.of("alpha", 5, "omega", 5));
        ImmutableClassToInstanceMap<Object> instances = ImmutableClassToInstanceMap.builder()
                .put(String.class, "s").put(Integer.class, 1).build();
        List<List<String>> partitions = Lists.partition(Lists.newArrayList(words), 3);
        List<List<Integer>> product = Lists.cartesianProduct(ImmutableList.of(1, 2), ImmutableList.of(3, 4));
        ImmutableSet<String> union = Sets.union(ImmutableSet.of("x"), ImmutableSet.copyOf(words)).immutableCopy();
        ImmutableSortedSet<String> sortedWords = ImmutableSortedSet.copyOf(Ordering.natural().reverse(), words);
        out.append(Joiner.on(',').withKeyValueSeparator("=").join(sorted)).append('\n');
        out.append(Joiner.on(' ').join(ImmutableList.of(lists.size(), linked.size(), linkedList.size(),
                tree.keySet().first(), byInitial.keySet().size(), concurrent.size(), highest.iterator().next(),
                transposed.size(), grid.get("alpha", 1), fixed.size(), fixedBimap.inverse().get(2),
                ranges.contains(8), fixedRanges.get(3), digits.size(), queue.peekLast(), recent.peek(),
                difference.entriesOnlyOnRight(), instances.getInstance(String.class), partitions.size(),
                product.size(), union.size(), sortedWords.first()))).append('\n');
        out.append(FluentIterable.from(words).filter(Predicates.containsPattern("e")).transform(Ascii::toUpperCase)
                .limit(3).join(Joiner.on('|'))).append(' ')
                .append(Collections2.permutations(ImmutableList.of(1, 2, 3)).size()).append(' ')
                .append(Iterators.size(Iterators.cycle(words).next().chars().iterator())).append(' ')
                .append(Iterables.getLast(words)).append(' ')
                .append(Ordering.explicit(words).max(words)).append('\n');

        // Caches, graphs and networks.
        LoadingCache<String, String> cache = CacheBuilder.newBuilder().maximumSize(100).recordStats()
                .build(CacheLoader.from(s -> CaseFormat.LOWER_CAMEL.to(CaseFormat.UPPER_UNDERSCORE, s)));
        out.append(cache.get("startUpTime")).append(' ').append(cache.stats().missCount()).append(' ')
                .append(Suppliers.memoize(() -> "memo").get()).append('\n');
        MutableGraph<String> graph = GraphBuilder.directed().nodeOrder(ElementOrder.insertion()).build();
        for (int i = 1; i < words.size(); i++) {
            graph.putEdge(words.get(i - 1), words.get(i));
        }
        MutableValueGraph<String, Integer> weighted = ValueGraphBuilder.undirected().build();
        weighted.putEdgeValue("a", "b", 3);
        MutableNetwork<String, String> network = NetworkBuilder.directed().allowsParallelEdges(true).build();
        network.addEdge("a", "b", "ab1");
        network.addEdge("a", "b", "ab2");
        out.append(Iterables.size(Traverser.forGraph(graph).breadthFirst(words.get(0)))).append(' ')
                .append(Graphs.transitiveClosure(graph).edges().size()).append(' ')
                .append(weighted.edgeValue("a", "b").orElse(0)).append(' ')
                .append(network.edgesConnecting("a", "b").size()).append('\n');

        // Hashing, encoding, escaping, numbers.
        BloomFilter<CharSequence> bloom = BloomFilter.create(Funnels.stringFunnel(StandardCharsets.UTF_8), 1000, 0.01);
        words.forEach(bloom::put);
        Escaper quotes = Escapers.builder().addEscape('"', "\\\"").build();
        out.append(Hashing.murmur3_128().hashString("vorlane", StandardCharsets.UTF_8)).append(' ')
                .append(Hashing.crc32c().hashInt(42)).append(' ').append(Hashing.farmHashFingerprint64().hashLong(7))
                .append(' ').append(bloom.mightContain("gamma")).append(' ')
                .append(BaseEncoding.base64().encode("vorlane".getBytes(StandardCharsets.UTF_8))).append(' ')
                .append(BaseEncoding.base16().lowerCase().encode(new byte[] {1, 2})).append('\n');
        out.append(HtmlEscapers.htmlEscaper().escape("<a&b>")).append(' ')
                .append(XmlEscapers.xmlAttributeEscaper().escape("'x'")).append(' ')
                .append(UrlEscapers.urlFormParameterEscaper().escape("a b&c")).append(' ')
                .append(new PercentEscaper("-", false).escape("a/b")).append(' ').append(quotes.escape("\"q\""))
                .append(' ').append(HostAndPort.fromString("example.org:8080").getPort()).append(' ')
                .append(ByteSource.wrap(new byte[] {1, 2, 3}).size()).append(' ')
                .append(CharSource.wrap("a\nb\n").readLines().size()).append('\n');
        out.append(IntMath.binomial(20, 10)).append(' ').append(LongMath.factorial(15)).append(' ')
                .append(BigIntegerMath.sqrt(java.math.BigInteger.TEN.pow(20), RoundingMode.FLOOR)).append(' ')
                .append(DoubleMath.roundToInt(2.5, RoundingMode.HALF_EVEN)).append(' ')
                .append(Stats.of(1, 2, 3, 4).mean()).append(' ')
                .append(Quantiles.median().compute(1, 2, 3, 4, 5)).append(' ')
                .append(Ints.max(3, 9, 4)).append(' ').append(Longs.join(":", 1L, 2L)).append(' ')
                .append(Doubles.tryParse("2.5")).append(' ').append(Chars.contains(new char[] {'a'}, 'a'))
                .append(' ').append(Bytes.indexOf(new byte[] {1, 2}, (byte) 2)).append(' ')
                .append(Shorts.checkedCast(7)).append(' ').append(Booleans.countTrue(true, false, true))
                .append(' ').append(ImmutableIntArray.of(1, 2, 3).length()).append(' ')
                .append(UnsignedInteger.fromIntBits(-1)).append(' ')
                .append(UnsignedLong.valueOf("18446744073709551615")).append('\n');
        Converter<String, Integer> parse = Ints.stringConverter();
        out.append(parse.convert("12")).append(' ').append(Enums.getIfPresent(Colour.class, "RED").isPresent())
                .append(' ').append(Equivalence.identity().equivalent("a", "a")).append(' ')
                .append(Functions.forMap(lengths).apply("beta")).append(' ')
                .append(Strings.padStart("7", 3, '0')).append(' ').append(Utf8.encodedLength("é"))
                .append(' ').append(MoreObjects.toStringHelper("Point").add("x", 1)).append('\n');

        // Commons Lang.
        out.append(new ToStringBuilder(words, ToStringStyle.SHORT_PREFIX_STYLE).append("size", words.size()))
                .append(' ').append(new EqualsBuilder().append(1, 1).append("a", "a").isEquals()).append(' ')
                .append(new HashCodeBuilder(17, 37).append(3).append("three").toHashCode()).append(' ')
                .append(new CompareToBuilder().append(1, 2).toComparison()).append(' ')
                .append(new DiffBuilder<>(words, words.reverse(), ToStringStyle.SHORT_PREFIX_STYLE)
                        .append("first", words.get(0), words.reverse().get(0)).build().getNumberOfDiffs())
                .append('\n');
        out.append(StringUtils.abbreviate(StringUtils.capitalize(StringUtils.join(words, ' ')), 20)).append(' ')
                .append(StringUtils.getLevenshteinDistance("kitten", "sitting")).append(' ')
                .append(StringUtils.difference("vorlane", "vorlage")).append(' ')
                .append(WordUtils.initials("Vorlane Native Launcher")).append(' ')
                .append(StringEscapeUtils.escapeHtml4("<é>")).append(' ')
                .append(StringEscapeUtils.escapeJava("tab\t")).append(' ')
                .append(StringEscapeUtils.escapeXml11("<x/>")).append(' ')
                .append(CharSetUtils.squeeze("aabbcc", "a-c")).append(' ').append(CharUtils.toIntValue('7'))
                .append(' ').append(BooleanUtils.toStringYesNo(true)).append(' ')
                .append(ObjectUtils.firstNonNull(null, "first")).append(' ')
                .append(EnumUtils.getEnumList(Colour.class).size()).append(' ')
                .append(ArrayUtils.toString(ArrayUtils.add(new int[] {1}, 2))).append('\n');
        StrBuilder builder = new StrBuilder().appendWithSeparators(words.subList(0, 3), "+");
        out.append(builder).append(' ')
                .append(StrSubstitutor.replace("${name} starts", ImmutableMap.of("name", "vorlane"))).append(' ')
                .append(new StrTokenizer("a b c").getTokenList().size()).append(' ')
                .append(NumberUtils.toInt("12", 0) + NumberUtils.max(1, 5, 3)).append(' ')
                .append(Fraction.getFraction(3, 12).reduce()).append(' ')
                .append(new MutableInt(5).incrementAndGet()).append(' ')
                .append(new MutableObject<>("m").getValue()).append(' ').append(Pair.of("a", 1)).append(' ')
                .append(MutablePair.of("b", 2)).append(' ').append(ImmutableTriple.of(1, 2, 3)).append(' ')
                .append(ClassUtils.getShortClassName(LibsApp.class)).append('\n');
        Validate.isTrue(words.size() == 8, "eight words expected");
        Map<String, Integer> check = ImmutableMap.copyOf(lengths);
        Validate.notEmpty(check);
        System.out.print(out);
    }
}
