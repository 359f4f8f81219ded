// A strong-named library in three versions (-d:V2 builds 2.0.0.0, -d:V0 0.5.0.0).
using System.Reflection;
#if V2
[assembly: AssemblyVersion("2.0.0.0")]
#elif V0
[assembly: AssemblyVersion("0.5.0.0")]
#else
[assembly: AssemblyVersion("1.0.0.0")]
#endif
public class Strong {
    public static string Where() { return typeof(Strong).Assembly.FullName; }
}
