! FORMAT statements referenced by label, and formats in variables.
program format_labels
  implicit none
  character(len=20) :: f
  real :: r = 2.5
  write (*, 100) 1, r
100 format (' n =', i3, ', r =', f6.2)
  f = '(a, i4)'
  write (*, f) 'v', 42
  print 200, 'done'
200 format (a)
end program format_labels
