! List-directed layout of integers: processor dependent.
! processor-dependent: line 1, line 2
program list_out_integers
  implicit none
  integer :: k = 42
  print *, k, -7
  print *, 'n =', k
end program list_out_integers
