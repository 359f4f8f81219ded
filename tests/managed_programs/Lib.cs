// A library without a strong name that calls native code: a module beside
// it, a system module, and one that is nowhere.
using System.Runtime.InteropServices;
public class Lib {
    [DllImport("vostnative")] static extern int vost_answer();
    [DllImport("kernel32.dll")] static extern uint GetTickCount();
    [DllImport("vostmissing.dll")] static extern int vost_missing();
    public static string Where() { return typeof(Lib).Assembly.FullName; }
}
