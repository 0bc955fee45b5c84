! PRINT with a format literal, a FORMAT label and a character variable.
program print_forms
  implicit none
  character(len=10) :: f = '(a, i4)'
  print '(a, 2i3)', 'p', 1, 2
  print 100, 3.5
100 format ('label ', f5.2)
  print f, 'v', 9
end program print_forms
