// A library the programs are built against and that is never shipped.
public class Gone {
    public static string Where() { return "gone"; }
}
